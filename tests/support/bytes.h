#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace jxtest {

using Bytes = std::vector<std::uint8_t>;

// Bytes that look random, the same for the same seed.
std::string random_bytes(std::size_t size, unsigned seed);

enum class HexCase { lower, upper };

// Two hexadecimal digits for each byte.
std::string hex(std::span<const std::uint8_t> bytes, HexCase letters = HexCase::lower);
std::string hex(std::string_view bytes, HexCase letters = HexCase::lower);

// The eight bytes of a number, most significant first.
std::string big_endian(std::uint64_t value);
void append_big_endian(Bytes& bytes, std::uint64_t value);
std::uint64_t big_endian_at(std::span<const std::uint8_t> bytes, std::size_t at);
void put_big_endian_at(Bytes& bytes, std::size_t at, std::uint64_t value);

// The lines of a text without their line ends; a last line without one counts too.
std::vector<std::string> lines_of(const std::string& text);

}  // namespace jxtest

#include "bytes.h"

#include <random>
#include <sstream>

namespace jxtest {

std::string random_bytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (auto& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

std::string hex(std::span<const std::uint8_t> bytes, HexCase letters) {
  const char* digits = letters == HexCase::lower ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t byte : bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

std::string hex(std::string_view bytes, HexCase letters) {
  return hex({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, letters);
}

std::string big_endian(std::uint64_t value) {
  std::string bytes;
  for (int shift = 56; shift >= 0; shift -= 8) bytes += static_cast<char>(value >> shift);
  return bytes;
}

void append_big_endian(Bytes& bytes, std::uint64_t value) {
  for (int shift = 56; shift >= 0; shift -= 8)
    bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::uint64_t big_endian_at(std::span<const std::uint8_t> bytes, std::size_t at) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 8; ++i) value = value << 8 | bytes[at + i];
  return value;
}

void put_big_endian_at(Bytes& bytes, std::size_t at, std::uint64_t value) {
  for (std::size_t i = 8; i-- > 0; value >>= 8) bytes[at + i] = static_cast<std::uint8_t>(value);
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace jxtest

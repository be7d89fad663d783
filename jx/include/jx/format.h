#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The layouts of the two file types. Every number in them is big-endian.
namespace jx::format {

inline constexpr std::size_t kMagicSize = 3;

// A key file: magic, version, the table k, then the words a, b, c and s.
inline constexpr std::string_view kKeyMagic = "JXK";
inline constexpr std::uint8_t kKeyVersion = 1;
inline constexpr std::size_t kKeyVersionAt = 3;
inline constexpr std::size_t kKeyTableAt = 4;
inline constexpr std::size_t kKeyWordsAt = 260;  // a, b, c, s: 8 bytes each
inline constexpr std::size_t kKeyFileSize = 292;

// A stream: a header (magic, version, options byte, the modifiers a, b, c and s), the blocks,
// and a footer holding the count of input bytes.
inline constexpr std::string_view kStreamMagic = "JXD";
inline constexpr std::uint8_t kStreamVersion = 1;
inline constexpr std::size_t kStreamVersionAt = 3;
inline constexpr std::size_t kOptionsAt = 4;
inline constexpr std::size_t kModifiersAt = 5;  // a, b, c, s: 8 bytes each
inline constexpr std::size_t kHeaderSize = 37;
inline constexpr std::size_t kFooterSize = 8;
inline constexpr std::size_t kBlockSize = 256;
inline constexpr std::size_t kInflatedBlockSize = 1024;

// Bits of the options byte.
inline constexpr std::uint8_t kPartialBit = 1;
inline constexpr std::uint8_t kInflateBit = 2;
inline constexpr std::uint8_t kKnownOptionBits = kPartialBit | kInflateBit;

}  // namespace jx::format

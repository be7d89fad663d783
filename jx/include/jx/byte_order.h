#pragma once

#include <cstdint>

namespace jx {

// Numbers in key files, streams and seeds are stored big-endian, most significant byte first.

inline std::uint32_t load_big_endian_32(const std::uint8_t* bytes) {
  std::uint32_t word = 0;
  for (int i = 0; i < 4; ++i) word = word << 8 | bytes[i];
  return word;
}

inline std::uint64_t load_big_endian_64(const std::uint8_t* bytes) {
  std::uint64_t word = 0;
  for (int i = 0; i < 8; ++i) word = word << 8 | bytes[i];
  return word;
}

inline void store_big_endian_32(std::uint32_t word, std::uint8_t* bytes) {
  for (int i = 3; i >= 0; --i, word >>= 8) bytes[i] = static_cast<std::uint8_t>(word);
}

inline void store_big_endian_64(std::uint64_t word, std::uint8_t* bytes) {
  for (int i = 7; i >= 0; --i, word >>= 8) bytes[i] = static_cast<std::uint8_t>(word);
}

}  // namespace jx

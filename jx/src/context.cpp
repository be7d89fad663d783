#include "jx/context.h"

#include <bit>
#include <cstring>

#include "block_plan.h"

namespace jx {

void Options::set_bits(std::uint8_t bits) {
  partial = (bits & 1) != 0;
  inflate = (bits & 2) != 0;
}

std::uint8_t Options::bits() const {
  return static_cast<std::uint8_t>((partial ? 1 : 0) | (inflate ? 2 : 0));
}

namespace {

using CodeTable = std::array<std::array<std::uint16_t, 256>, 256>;
using InverseTable = std::array<std::uint8_t, 65536>;

// Codes of byte value v, choice 16j + m: the high byte from entry j of line hi(v) of
// `lines`, the low byte from entry m of line lo(v), a line being 16 consecutive entries.
void build_codes(const std::array<std::uint8_t, 256>& lines, CodeTable& codes) {
  for (std::size_t v = 0; v < 256; ++v) {
    const std::uint8_t* high_line = &lines[16 * (v >> 4)];
    const std::uint8_t* low_line = &lines[16 * (v & 15)];
    for (std::size_t j = 0; j < 16; ++j) {
      const auto high = static_cast<std::uint16_t>(high_line[j] << 8);
      for (std::size_t m = 0; m < 16; ++m) {
        codes[v][16 * j + m] = static_cast<std::uint16_t>(high | low_line[m]);
      }
    }
  }
}

// Where codes repeat, the highest byte value that produced a code keeps it.
void build_inverse(const CodeTable& codes, InverseTable& inverse) {
  inverse.fill(0);
  for (std::size_t v = 0; v < 256; ++v) {
    for (std::uint16_t code : codes[v]) inverse[code] = static_cast<std::uint8_t>(v);
  }
}

// The same tables for a permutation, where every code has exactly one source: an entry
// follows from the positions in k of the code's two bytes, so the tables fill in order.
void build_inverses_of_permutation(const std::array<std::uint8_t, 256>& k,
                                   InverseTable& row_inverse, InverseTable& col_inverse) {
  std::array<std::uint8_t, 256> position;
  for (std::size_t i = 0; i < 256; ++i) position[k[i]] = static_cast<std::uint8_t>(i);
  for (std::size_t high = 0; high < 256; ++high) {
    const std::uint8_t from_high = position[high];
    for (std::size_t low = 0; low < 256; ++low) {
      const std::uint8_t from_low = position[low];
      row_inverse[256 * high + low] = static_cast<std::uint8_t>((from_high & 0xF0) | from_low >> 4);
      col_inverse[256 * high + low] =
          static_cast<std::uint8_t>((from_high & 15) << 4 | (from_low & 15));
    }
  }
  wipe(position.data(), position.size());
}

// A code stored high byte first, in one store.
void put_code(std::uint16_t code, std::uint8_t* bytes) {
  if constexpr (std::endian::native == std::endian::little) code = __builtin_bswap16(code);
  std::memcpy(bytes, &code, sizeof code);
}

}  // namespace

Context::Context(const Key& key_to_copy) : Context(key_to_copy, Rng::from_os()) {}

Context::Context(const Key& key_to_copy, const Rng& generator) : key(key_to_copy), rng(generator) {
  // A column code reads the matrix k by columns: the same construction on its transpose.
  std::array<std::uint8_t, 256> columns;
  for (std::size_t r = 0; r < 16; ++r) {
    for (std::size_t c = 0; c < 16; ++c) columns[16 * c + r] = key.k[16 * r + c];
  }
  build_codes(key.k, row_codes);
  build_codes(columns, col_codes);
  if (key.is_permutation()) {
    build_inverses_of_permutation(key.k, row_inverse, col_inverse);
  } else {
    build_inverse(row_codes, row_inverse);
    build_inverse(col_codes, col_inverse);
  }
  wipe(columns.data(), columns.size());
}

Context::~Context() {
  wipe(&rng, sizeof rng);
  wipe(&mod_a, sizeof mod_a);
  wipe(&mod_b, sizeof mod_b);
  wipe(&mod_c, sizeof mod_c);
  wipe(&mod_s, sizeof mod_s);
  wipe(row_codes.data(), sizeof row_codes);
  wipe(col_codes.data(), sizeof col_codes);
  wipe(row_inverse.data(), sizeof row_inverse);
  wipe(col_inverse.data(), sizeof col_inverse);
}

void Context::inflate_4x(const std::uint8_t* block, std::uint8_t* expanded) {
  std::size_t p = 256;
  for_each_step(rng, 256, [&](std::uint64_t out) {
    --p;
    put_code(row_codes[block[p]][static_cast<std::uint8_t>(out)], &expanded[2 * p]);
  });
  // Downward, each byte is read before the two positions it expands into are overwritten.
  std::size_t q = 512;
  for_each_step(rng, 512, [&](std::uint64_t out) {
    --q;
    put_code(col_codes[expanded[q]][static_cast<std::uint8_t>(out)], &expanded[2 * q]);
  });
}

}  // namespace jx

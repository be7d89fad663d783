#include "reference_encoder.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "bytes.h"

namespace jx {

namespace {

unsigned hi(unsigned v) {
  return v >> 4;
}
unsigned lo(unsigned v) {
  return v & 15;
}

unsigned reference_row_code(const Key& key, unsigned v, unsigned col) {
  return key.k[16 * hi(v) + hi(col)] * 256u + key.k[16 * lo(v) + lo(col)];
}

unsigned reference_col_code(const Key& key, unsigned v, unsigned col) {
  return key.k[16 * hi(col) + hi(v)] * 256u + key.k[16 * lo(col) + lo(v)];
}

std::uint8_t low8(std::uint64_t v) {
  return static_cast<std::uint8_t>(v);
}

}  // namespace

ReferenceBlock reference_block(const Key& key, bool partial, std::uint64_t i) {
  ReferenceBlock block{};
  const std::uint64_t t = key.s + i;
  std::uint64_t x = std::rotl(key.c, static_cast<int>(t % 64)) * t;
  std::uint64_t y = x ^ key.a;
  std::uint64_t z = x + key.b;
  for (unsigned p = 0; p <= 256; ++p) {
    block.pad[p] = static_cast<std::uint8_t>((z ^ y) + x);
    y = std::rotl(y, 11);
    if (p % 3 == 0) z = std::rotl(z, 13);
    if (p % 5 == 0) x = std::rotl(x, 17);
  }
  for (unsigned p = 0; p < 256; ++p) block.order[p] = key.k[p];
  for (unsigned p = 0; p < 256; ++p) std::swap(block.order[p], block.order[block.pad[p]]);
  block.length = partial ? (block.pad[256] | 0x80u) + 1 : 256;
  return block;
}

std::vector<std::uint8_t> reference_encode(Key key, Rng& rng, Options options,
                                           const std::vector<std::uint8_t>& input,
                                           std::vector<std::size_t>* lengths) {
  const std::uint64_t mod_a = rng.get(), mod_b = rng.get(), mod_c = rng.get(), mod_s = rng.get();
  key.a = key.a ^ mod_a;
  key.b = key.a ^ mod_b;
  key.c = key.a ^ mod_c;
  key.s = key.a ^ mod_s;
  std::vector<std::uint8_t> out = {
      'J', 'X', 'D', 1, static_cast<std::uint8_t>(options.partial + 2 * options.inflate)};
  for (std::uint64_t mod : {mod_a, mod_b, mod_c, mod_s}) jxtest::append_big_endian(out, mod);
  std::size_t at = 0;
  for (std::uint64_t i = 0;; ++i) {
    const ReferenceBlock block = reference_block(key, options.partial, i);
    const std::size_t n = std::min(block.length, input.size() - at);
    if (n == 0) break;
    if (lengths) lengths->push_back(block.length);
    std::uint8_t buffer[256];
    for (std::size_t p = 0; p < n; ++p) buffer[p] = input[at + p];
    for (std::size_t p = n; p < 256; ++p) buffer[p] = low8(rng.get());
    at += n;
    std::uint8_t gathered[256];
    for (unsigned p = 0; p < 256; ++p) gathered[p] = buffer[block.order[p]] ^ block.pad[p];
    if (!options.inflate) {
      out.insert(out.end(), gathered, gathered + 256);
      continue;
    }
    std::uint8_t expanded[1024];
    for (int p = 255; p >= 0; --p) {
      const unsigned code = reference_row_code(key, gathered[p], low8(rng.get()));
      expanded[2 * p] = static_cast<std::uint8_t>(code >> 8);
      expanded[2 * p + 1] = static_cast<std::uint8_t>(code);
    }
    for (int q = 511; q >= 0; --q) {
      const unsigned code = reference_col_code(key, expanded[q], low8(rng.get()));
      expanded[2 * q] = static_cast<std::uint8_t>(code >> 8);
      expanded[2 * q + 1] = static_cast<std::uint8_t>(code);
    }
    out.insert(out.end(), expanded, expanded + 1024);
  }
  jxtest::append_big_endian(out, input.size());
  return out;
}

}  // namespace jx

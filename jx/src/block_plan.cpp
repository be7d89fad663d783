#include "block_plan.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// GCC 12 warns inside its own AVX-512 headers, at the placeholder for undefined lanes.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#define JX_VECTOR_CODE 1
#define JX_VECTOR_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi")))
#endif

namespace jx {

BlockPlan::~BlockPlan() {
  wipe(this, sizeof *this);
}

namespace {

// The words from which a block's pad bytes come, one byte per step.
struct PadWords {
  std::uint64_t x, y, z;

  PadWords(const Key& key, std::uint64_t block) {
    const std::uint64_t t = key.s + block;
    x = std::rotl(key.c, static_cast<int>(t % 64)) * t;
    y = x ^ key.a;
    z = x + key.b;
  }

  // Pad byte p; `third` and `fifth` tell whether p is a multiple of 3 and of 5.
  std::uint8_t next(bool third, bool fifth) {
    const auto byte = static_cast<std::uint8_t>((z ^ y) + x);
    y = std::rotl(y, 11);
    if (third) z = std::rotl(z, 13);
    if (fifth) x = std::rotl(x, 17);
    return byte;
  }
};

// The multiples of 3 and 5 repeat every 15 bytes: unrolled that far, the tests disappear.
constexpr std::size_t kPeriod = 15;

void pad_step_by_step(PadWords words, std::uint8_t* pad) {
  std::size_t p = 0;
  for (; p + kPeriod <= 256; p += kPeriod) {
#pragma GCC unroll 15
    for (std::size_t q = 0; q < kPeriod; ++q) pad[p + q] = words.next(q % 3 == 0, q % 5 == 0);
  }
  for (; p <= 256; ++p) pad[p] = words.next(p % 3 == 0, p % 5 == 0);
}

// One swap of the transposition. The order of its two stores is free: alternating it lets
// consecutive stores fall in one cache line more often, which the processor takes together.
template <bool kOtherFirst>
void trade(std::uint8_t* bytes, std::size_t p, std::uint64_t other) {
  const std::uint8_t at_p = bytes[p], at_other = bytes[other];
  if constexpr (kOtherFirst) {
    bytes[other] = at_p;
    bytes[p] = at_other;
  } else {
    bytes[p] = at_other;
    bytes[other] = at_p;
  }
}

// Eight pad bytes in one load, the first in the low byte.
std::uint64_t eight_bytes(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// The swaps of positions p to p + 7 with the positions in the bytes of `others`, low first.
void swap_eight_up(std::uint8_t* bytes, std::size_t p, std::uint64_t others) {
#pragma GCC unroll 4
  for (std::size_t q = p; q < p + 8; q += 2, others >>= 16) {
    trade<true>(bytes, q, others & 255);
    trade<false>(bytes, q + 1, others >> 8 & 255);
  }
}

// The swaps of positions p - 1 down to p - 8 with the positions in the bytes of `others`,
// high first.
void swap_eight_down(std::uint8_t* bytes, std::size_t p, std::uint64_t others) {
#pragma GCC unroll 4
  for (std::size_t q = p; q > p - 8; q -= 2, others <<= 16) {
    trade<true>(bytes, q - 1, others >> 56);
    trade<false>(bytes, q - 2, others >> 48 & 255);
  }
}

// Position p trades places with position pad[p], for p = 0 to 255 in turn. Loading the pad
// bytes of sixteen swaps ahead of them makes the loop markedly faster than eight.
void swap_up(std::uint8_t* bytes, const std::uint8_t* pad) {
  for (std::size_t p = 0; p < 256; p += 16) {
    const std::uint64_t first = eight_bytes(pad + p), second = eight_bytes(pad + p + 8);
    swap_eight_up(bytes, p, first);
    swap_eight_up(bytes, p + 8, second);
  }
}

// The same swaps from p = 255 down to 0, which undoes swap_up.
void swap_down(std::uint8_t* bytes, const std::uint8_t* pad) {
  for (std::size_t p = 256; p > 0; p -= 16) {
    const std::uint64_t first = eight_bytes(pad + p - 8), second = eight_bytes(pad + p - 16);
    swap_eight_down(bytes, p, first);
    swap_eight_down(bytes, p - 8, second);
  }
}

void add_pad(std::uint8_t* bytes, const std::uint8_t* pad) {
  for (std::size_t p = 0; p < 256; ++p) bytes[p] ^= pad[p];
}

void scramble_portably(const BlockPlan& plan, const ByteTable& k, const std::uint8_t* in,
                       std::uint8_t* out) {
  for (std::size_t p = 0; p < 256; ++p) out[p] = in[k[p]];
  swap_up(out, plan.pad.data());
  add_pad(out, plan.pad.data());
}

void unscramble_portably(const BlockPlan& plan, const ByteTable& position, const std::uint8_t* in,
                         std::uint8_t* out) {
  std::array<std::uint8_t, 256> mixed;
  for (std::size_t p = 0; p < 256; ++p) mixed[p] = in[p] ^ plan.pad[p];
  swap_down(mixed.data(), plan.pad.data());
  for (std::size_t v = 0; v < 256; ++v) out[v] = mixed[position[v]];
  wipe(mixed.data(), mixed.size());
}

std::size_t code_at(const std::uint8_t* bytes) {
  return static_cast<std::size_t>(bytes[0]) << 8 | bytes[1];
}

void contract_portably(const Context& context, const std::uint8_t* expanded, std::uint8_t* out) {
  const CodeTables::Inverse& row_inverse = context.tables->row_inverse();
  const CodeTables::Inverse& col_inverse = context.tables->col_inverse();
  for (std::size_t p = 0; p < 256; ++p) {
    const std::uint8_t* codes = expanded + 4 * p;
    const std::uint8_t high = col_inverse[code_at(codes)];
    const std::uint8_t low = col_inverse[code_at(codes + 2)];
    out[p] = row_inverse[std::size_t{high} << 8 | low];
  }
}

#ifdef JX_VECTOR_CODE

// The offsets, within a word, of the low byte of each rotated word that a pad byte draws on:
// pad byte p is low8((rotl(z, 13·⌈p/3⌉) ^ rotl(y, 11·p)) + rotl(x, 17·⌈p/5⌉)) of the block's
// first words, and the low byte of rotl(v, r) is the byte of v that starts at bit 64 − r.
struct PadOffsets {
  std::array<std::uint8_t, 320> x, y, z;  // 257 used, five vectors of 64
};

constexpr std::uint8_t offset_of_rotation(unsigned bits) {
  return static_cast<std::uint8_t>((64 - bits % 64) % 64);
}

constexpr PadOffsets make_pad_offsets() {
  PadOffsets offsets{};
  for (unsigned p = 0; p < 320; ++p) {
    offsets.x[p] = offset_of_rotation(17 * ((p + 4) / 5));
    offsets.y[p] = offset_of_rotation(11 * p);
    offsets.z[p] = offset_of_rotation(13 * ((p + 2) / 3));
  }
  return offsets;
}

constexpr PadOffsets kPadOffsets = make_pad_offsets();

JX_VECTOR_TARGET __m512i load(const std::uint8_t* bytes) {
  return _mm512_loadu_si512(bytes);
}

JX_VECTOR_TARGET void store(std::uint8_t* bytes, __m512i vector) {
  _mm512_storeu_si512(bytes, vector);
}

// 64 bytes of the word, each taken from its own bit offset, with wrap-around.
JX_VECTOR_TARGET __m512i bytes_at(__m512i word, const std::uint8_t* offsets) {
  return _mm512_multishift_epi64_epi8(load(offsets), word);
}

JX_VECTOR_TARGET void pad_by_vector(const PadWords& words, std::uint8_t* pad) {
  const __m512i x = _mm512_set1_epi64(static_cast<long long>(words.x));
  const __m512i y = _mm512_set1_epi64(static_cast<long long>(words.y));
  const __m512i z = _mm512_set1_epi64(static_cast<long long>(words.z));
  for (std::size_t p = 0; p < 320; p += 64) {
    const __m512i bytes = _mm512_add_epi8(
        _mm512_xor_si512(bytes_at(z, &kPadOffsets.z[p]), bytes_at(y, &kPadOffsets.y[p])),
        bytes_at(x, &kPadOffsets.x[p]));
    if (p < 256) {
      store(pad + p, bytes);
    } else {
      pad[p] = static_cast<std::uint8_t>(_mm_cvtsi128_si32(_mm512_castsi512_si128(bytes)));
    }
  }
}

// A table of 256 bytes in four vectors.
struct VectorTable {
  __m512i part[4];
};

JX_VECTOR_TARGET VectorTable load_table(const std::uint8_t* bytes) {
  return {{load(bytes), load(bytes + 64), load(bytes + 128), load(bytes + 192)}};
}

// table[index] for each of 64 indices.
JX_VECTOR_TARGET __m512i look_up(const VectorTable& table, __m512i index) {
  const __m512i low = _mm512_permutex2var_epi8(table.part[0], index, table.part[1]);
  const __m512i high = _mm512_permutex2var_epi8(table.part[2], index, table.part[3]);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
}

JX_VECTOR_TARGET void add_pad_by_vector(std::uint8_t* bytes, const std::uint8_t* pad) {
  for (std::size_t p = 0; p < 256; p += 64) {
    store(bytes + p, _mm512_xor_si512(load(bytes + p), load(pad + p)));
  }
}

JX_VECTOR_TARGET void scramble_by_vector(const BlockPlan& plan, const ByteTable& k,
                                         const std::uint8_t* in, std::uint8_t* out) {
  const VectorTable source = load_table(in);
  for (std::size_t p = 0; p < 256; p += 64) store(out + p, look_up(source, load(&k[p])));
  swap_up(out, plan.pad.data());
  add_pad_by_vector(out, plan.pad.data());
}

JX_VECTOR_TARGET void unscramble_by_vector(const BlockPlan& plan, const ByteTable& position,
                                           const std::uint8_t* in, std::uint8_t* out) {
  for (std::size_t p = 0; p < 256; p += 64) {
    store(out + p, _mm512_xor_si512(load(in + p), load(&plan.pad[p])));
  }
  swap_down(out, plan.pad.data());
  const VectorTable mixed = load_table(out);
  for (std::size_t v = 0; v < 256; v += 64) store(out + v, look_up(mixed, load(&position[v])));
}

// The low bytes of the 16-bit lanes of two vectors, in order.
JX_VECTOR_TARGET __m512i low_bytes(__m512i first, __m512i second) {
  static constexpr std::array<std::uint8_t, 64> kEven = [] {
    std::array<std::uint8_t, 64> even{};
    for (std::size_t i = 0; i < 64; ++i) even[i] = static_cast<std::uint8_t>(2 * i);
    return even;
  }();
  return _mm512_permutex2var_epi8(first, load(kEven.data()), second);
}

// (a mod 16)·16 + b mod 16 in the low byte of each 16-bit lane holding bytes a, b.
JX_VECTOR_TARGET __m512i join_low_nibbles(__m512i pairs) {
  const __m512i nibbles = _mm512_and_si512(pairs, _mm512_set1_epi16(0x0F0F));
  return _mm512_or_si512(_mm512_slli_epi16(nibbles, 4), _mm512_srli_epi16(nibbles, 8));
}

// The first-pass codes of 32 block bytes from their 128 bytes of codes: with P the positions
// of the four code bytes of a block byte, its first-pass code bytes are
// (P0 mod 16)·16 + P1 mod 16 and (P2 mod 16)·16 + P3 mod 16.
JX_VECTOR_TARGET __m512i first_pass_codes(const VectorTable& position, const std::uint8_t* codes) {
  return low_bytes(join_low_nibbles(look_up(position, load(codes))),
                   join_low_nibbles(look_up(position, load(codes + 64))));
}

// The block bytes of 32 first-pass codes h, l, one in the low byte of each 16-bit lane: the
// high nibble of the position of h, then that of l.
JX_VECTOR_TARGET __m512i block_bytes(const VectorTable& position, __m512i first_pass) {
  const __m512i found = look_up(position, first_pass);
  return _mm512_or_si512(_mm512_and_si512(found, _mm512_set1_epi16(0x00F0)),
                         _mm512_srli_epi16(found, 12));
}

JX_VECTOR_TARGET void contract_by_vector(const ByteTable& position, const std::uint8_t* expanded,
                                         std::uint8_t* out) {
  const VectorTable table = load_table(position.data());
  for (std::size_t p = 0; p < 256; p += 64) {
    const std::uint8_t* codes = expanded + 4 * p;
    store(out + p, low_bytes(block_bytes(table, first_pass_codes(table, codes)),
                             block_bytes(table, first_pass_codes(table, codes + 128))));
  }
}

// The 64 bytes at `bytes`, last first.
JX_VECTOR_TARGET __m512i reversed(const std::uint8_t* bytes) {
  static constexpr std::array<std::uint8_t, 64> kBackwards = [] {
    std::array<std::uint8_t, 64> backwards{};
    for (std::size_t i = 0; i < 64; ++i) backwards[i] = static_cast<std::uint8_t>(63 - i);
    return backwards;
  }();
  return _mm512_permutexvar_epi8(load(kBackwards.data()), load(bytes));
}

// Byte i of the first vector, then byte i of the second: for i from 0 to 31 in half 0, from
// 32 to 63 in half 1.
JX_VECTOR_TARGET __m512i interleaved(__m512i first, __m512i second, std::size_t half) {
  static constexpr std::array<std::array<std::uint8_t, 64>, 2> kOrder = [] {
    std::array<std::array<std::uint8_t, 64>, 2> order{};
    for (std::size_t h = 0; h < 2; ++h) {
      for (std::size_t i = 0; i < 32; ++i) {
        order[h][2 * i] = static_cast<std::uint8_t>(32 * h + i);
        order[h][2 * i + 1] = static_cast<std::uint8_t>(64 + 32 * h + i);
      }
    }
    return order;
  }();
  return _mm512_permutex2var_epi8(first, load(kOrder[half].data()), second);
}

// The codes of 64 byte values for their 64 choices, high byte first, into 128 bytes: the
// high byte is entry hi(choice) of line hi(value), the low byte entry lo(choice) of line
// lo(value).
JX_VECTOR_TARGET void store_codes(const VectorTable& lines, __m512i values, __m512i choices,
                                  std::uint8_t* codes) {
  const __m512i high_nibbles = _mm512_set1_epi8(static_cast<char>(0xF0));
  const __m512i low_nibbles = _mm512_set1_epi8(0x0F);
  const __m512i high_at =
      _mm512_or_si512(_mm512_and_si512(values, high_nibbles),
                      _mm512_and_si512(_mm512_srli_epi16(choices, 4), low_nibbles));
  const __m512i low_at =
      _mm512_or_si512(_mm512_and_si512(_mm512_slli_epi16(values, 4), high_nibbles),
                      _mm512_and_si512(choices, low_nibbles));
  const __m512i high = look_up(lines, high_at);
  const __m512i low = look_up(lines, low_at);
  store(codes, interleaved(high, low, 0));
  store(codes + 64, interleaved(high, low, 1));
}

// Block byte p takes choice 255 - p, first-pass byte q choice 767 - q: 64 positions from p0
// take the 64 choices that end at 255 - p0, in reverse.
JX_VECTOR_TARGET void expand_by_vector(const CodeTables& tables, const std::uint8_t* block,
                                       const std::uint8_t* choices, std::uint8_t* expanded) {
  const VectorTable rows = load_table(tables.row_lines().data());
  const VectorTable columns = load_table(tables.col_lines().data());
  alignas(64) std::array<std::uint8_t, 512> first_pass;
  for (std::size_t p = 0; p < 256; p += 64) {
    store_codes(rows, load(block + p), reversed(choices + 192 - p), &first_pass[2 * p]);
  }
  for (std::size_t q = 0; q < 512; q += 64) {
    store_codes(columns, load(&first_pass[q]), reversed(choices + 704 - q), expanded + 2 * q);
  }
  wipe(first_pass.data(), first_pass.size());
}

bool processor_has_vector_code() {
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vbmi");
}

#else

bool processor_has_vector_code() {
  return false;
}

#endif

// A code stored high byte first, in one store.
void store_code(std::uint16_t code, std::uint8_t* bytes) {
  if constexpr (std::endian::native == std::endian::little) code = __builtin_bswap16(code);
  std::memcpy(bytes, &code, sizeof code);
}

bool& vector_code_switch() {
  static bool enabled = processor_has_vector_code();
  return enabled;
}

}  // namespace

bool vector_code_enabled() {
  return vector_code_switch();
}

void enable_vector_code(bool enabled) {
  vector_code_switch() = enabled && processor_has_vector_code();
}

void plan_block(const Key& key, bool partial, std::uint64_t block, BlockPlan& plan) {
  const PadWords words(key, block);
#ifdef JX_VECTOR_CODE
  if (vector_code_enabled()) {
    pad_by_vector(words, plan.pad.data());
  } else {
    pad_step_by_step(words, plan.pad.data());
  }
#else
  pad_step_by_step(words, plan.pad.data());
#endif
  plan.length = partial ? static_cast<std::size_t>(plan.pad[256] | 0x80) + 1 : 256;
}

std::size_t block_length(const Key& key, bool partial, std::uint64_t block) {
  if (!partial) return 256;
  // Pad byte 256, after 256 rotations of y and one of z per multiple of 3 and of x per
  // multiple of 5 below it.
  const PadWords words(key, block);
  const auto byte = static_cast<std::uint8_t>(
      (std::rotl(words.z, 13 * 86) ^ std::rotl(words.y, 11 * 256)) + std::rotl(words.x, 17 * 52));
  return static_cast<std::size_t>(byte | 0x80) + 1;
}

// Flattened, so that the steps keep their target in registers: a byte stored through memory
// that may alias it would otherwise make every step reload it.
[[gnu::flatten]] void draw_bytes(Rng& rng, std::uint8_t* to, std::size_t count) {
  for_each_step(rng, count, [&to](std::uint64_t out) { *to++ = static_cast<std::uint8_t>(out); });
}

void scramble(const BlockPlan& plan, const ByteTable& k, const std::uint8_t* in,
              std::uint8_t* out) {
#ifdef JX_VECTOR_CODE
  if (vector_code_enabled()) return scramble_by_vector(plan, k, in, out);
#endif
  scramble_portably(plan, k, in, out);
}

void unscramble(const BlockPlan& plan, const ByteTable& position, const std::uint8_t* in,
                std::uint8_t* out) {
#ifdef JX_VECTOR_CODE
  if (vector_code_enabled()) return unscramble_by_vector(plan, position, in, out);
#endif
  unscramble_portably(plan, position, in, out);
}

void contract(const Context& context, const ByteTable& position, const std::uint8_t* expanded,
              std::uint8_t* out) {
#ifdef JX_VECTOR_CODE
  if (vector_code_enabled()) return contract_by_vector(position, expanded, out);
#endif
  static_cast<void>(position);
  contract_portably(context, expanded, out);
}

void expand(const CodeTables& tables, const std::uint8_t* block, const std::uint8_t* choices,
            std::uint8_t* expanded) {
#ifdef JX_VECTOR_CODE
  if (vector_code_enabled()) return expand_by_vector(tables, block, choices, expanded);
#endif
  const CodeTables::Codes& row_codes = tables.row_codes();
  const CodeTables::Codes& col_codes = tables.col_codes();
  for (std::size_t p = 256; p > 0; --p, ++choices) {
    store_code(row_codes[block[p - 1]][*choices], &expanded[2 * (p - 1)]);
  }
  // Downward, each byte is read before the two positions it expands into are overwritten.
  for (std::size_t q = 512; q > 0; --q, ++choices) {
    store_code(col_codes[expanded[q - 1]][*choices], &expanded[2 * (q - 1)]);
  }
}

}  // namespace jx

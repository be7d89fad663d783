#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "jx/context.h"
#include "jx/key.h"
#include "jx/rng.h"

namespace jx {

using ByteTable = std::array<std::uint8_t, 256>;

// What a stream's key words fix for one block: the pad that is XORed into it and whose bytes
// choose the swaps of its transposition, and how many input bytes it asks for.
struct BlockPlan {
  std::array<std::uint8_t, 257> pad;  // bytes 0 to 255 for the block, 256 for its length
  std::size_t length;                 // 256, or 129 to 256 under the partial option

  ~BlockPlan();  // the plan is key material
};

// Fills `plan` for block number `block` of a stream whose key words have been rewritten.
void plan_block(const Key& key, bool partial, std::uint64_t block, BlockPlan& plan);

// The number of input bytes block number `block` asks for: plan_block's length, without the
// rest of the pad.
std::size_t block_length(const Key& key, bool partial, std::uint64_t block);

// Takes `count` steps of the generator with the rule of Rng::step, handing each output to
// `use`. Only a step whose new counter is a multiple of 64 rotates y or crosses x and z; the
// steps between them run without the counter tests, and with x ^ y formed a step ahead, so
// that the chain through z is one rotation and one addition long.
template <class Use>
void for_each_step(Rng& rng, std::size_t count, Use&& use) {
  std::uint64_t counter = rng.counter, x = rng.x, y = rng.y, z = rng.z;
  while (count > 0) {
    std::size_t plain = std::min<std::size_t>(count, 63 - (counter & 63));
    counter += plain;
    count -= plain;
#pragma GCC unroll 4
    for (std::uint64_t x_y = x ^ y; plain > 0; --plain) {
      const std::uint64_t out = x_y ^ z;
      x = std::rotl(x, 11);
      x_y = x ^ y;
      z = std::rotl(z, 17) + out;
      use(out);
    }
    if (count > 0) {
      use(Rng::step(counter, x, y, z));
      --count;
    }
  }
  rng.counter = counter;
  rng.x = x;
  rng.y = y;
  rng.z = z;
}

// Takes `count` steps of the generator, writing the low byte of each to `to` in turn.
void draw_bytes(Rng& rng, std::uint8_t* to, std::size_t count);

// out[p] = in[order[p]] ^ pad[p] for the 256 bytes of a block, where order is `k` after
// position p has traded places with position pad[p] for p = 0 to 255 in turn. Here and below,
// `in` and `out` do not overlap.
void scramble(const BlockPlan& plan, const ByteTable& k, const std::uint8_t* in, std::uint8_t* out);
// The inverse of scramble for a permutation k, given by its positions: position[k[i]] = i.
void unscramble(const BlockPlan& plan, const ByteTable& position, const std::uint8_t* in,
                std::uint8_t* out);
// Gives back the 256 bytes whose fourfold expansion is `expanded` (1024 bytes), for a context
// whose k is a permutation with the given positions.
void contract(const Context& context, const ByteTable& position, const std::uint8_t* expanded,
              std::uint8_t* out);

// What Context::inflate_4x writes for `block`, with the low bytes of its 768 generator steps
// given in the order they are drawn.
void expand(const CodeTables& tables, const std::uint8_t* block, const std::uint8_t* choices,
            std::uint8_t* expanded);

// Whether the functions above use the processor's 512-bit byte permutations (AVX-512 VBMI):
// by default exactly when it has them. Tests switch them off to check the portable code.
bool vector_code_enabled();
void enable_vector_code(bool enabled);  // true has no effect on a processor without them

}  // namespace jx

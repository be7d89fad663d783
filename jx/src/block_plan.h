#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "jx/key.h"

namespace jx {

// What a stream's key words and table fix for one block: the pad that is XORed into it, the
// order in which its bytes are gathered, and how many input bytes it asks for.
struct BlockPlan {
  std::array<std::uint8_t, 257> pad;  // bytes 0 to 255 for the block, 256 for its length
  std::array<std::uint8_t, 256> order;
  std::size_t length;  // 256, or 129 to 256 under the partial option

  ~BlockPlan();  // the plan is key material
};

// Fills `plan` for block number `block` of a stream whose key words have been rewritten.
void plan_block(const Key& key, bool partial, std::uint64_t block, BlockPlan& plan);

}  // namespace jx

#include "block_plan.h"

#include <bit>
#include <utility>

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

}  // namespace

void plan_block(const Key& key, bool partial, std::uint64_t block, BlockPlan& plan) {
  PadWords words(key, block);
  plan.order = key.k;
  // Each swap needs only the pad byte of its own position, so the two run in one loop.
  std::size_t p = 0;
  for (; p + kPeriod <= 256; p += kPeriod) {
#pragma GCC unroll 15
    for (std::size_t q = 0; q < kPeriod; ++q) {
      const std::uint8_t byte = words.next(q % 3 == 0, q % 5 == 0);
      plan.pad[p + q] = byte;
      std::swap(plan.order[p + q], plan.order[byte]);
    }
  }
  for (; p < 256; ++p) {
    const std::uint8_t byte = words.next(p % 3 == 0, p % 5 == 0);
    plan.pad[p] = byte;
    std::swap(plan.order[p], plan.order[byte]);
  }
  plan.pad[256] = words.next(256 % 3 == 0, 256 % 5 == 0);
  plan.length = partial ? static_cast<std::size_t>(plan.pad[256] | 0x80) + 1 : 256;
}

}  // namespace jx

#include "jx/big.h"

#include <algorithm>

#include "jx/key.h"

namespace jx {

namespace {

constexpr std::uint64_t kLimbMask = 0xFFFFFFFFu;

}  // namespace

Big::~Big() {
  if (!limbs.empty()) wipe(limbs.data(), limbs.size() * sizeof(limbs[0]));
}

void Big::carry() {
  const std::size_t n = limbs.size();
  if (n == 0) return;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    limbs[i + 1] += limbs[i] >> 32;
    limbs[i] &= kLimbMask;
  }
  limbs[n - 1] &= kLimbMask;
}

void Big::shift(std::size_t r) {
  const std::size_t n = limbs.size();
  if (n == 0) return;
  const std::size_t b = (r / 32) % n;
  if (b != 0) {
    std::vector<std::uint64_t> moved(n, 0);
    for (std::size_t i = 0; i < n; ++i) moved[(i + b) % n] = limbs[i];
    std::copy(moved.begin(), moved.end(), limbs.begin());
    wipe(moved.data(), moved.size() * sizeof(moved[0]));
  }
  const std::size_t s = r % 32;
  for (auto& slot : limbs) slot <<= s;
  limbs[0] |= limbs[n - 1] >> 32;
  for (std::size_t i = 1; i < n; ++i) limbs[i] |= limbs[i - 1] >> 32;
  for (auto& slot : limbs) slot &= kLimbMask;
}

}  // namespace jx

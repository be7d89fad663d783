#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace jx {

// A fixed-width unsigned number of n 32-bit limbs, each in the low half of a 64-bit slot,
// least significant first; arithmetic is modulo 2^(32n). The high halves are headroom for
// sums and products until carry() brings the number back into normal form.
struct Big {
  std::vector<std::uint64_t> limbs;

  explicit Big(std::size_t limb_count) : limbs(limb_count, 0) {}
  ~Big();

  // Moves every slot's overflow into the next one, dropping what leaves the top limb.
  void carry();
  // Rotates the whole number left by r bits; the number must be in normal form.
  void shift(std::size_t r);
};

}  // namespace jx

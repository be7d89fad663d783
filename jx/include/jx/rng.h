#pragma once

#include <array>
#include <cstdint>

#include "jx/io_error.h"

namespace jx {

// The pseudo-random generator: 256 bits of state stepped by one fixed rule.
struct Rng {
  using Seed = std::array<std::uint8_t, 32>;

  std::uint64_t counter = 0;  // incremented before every output; wraps
  std::uint64_t x = 0;        // rotated on every step
  std::uint64_t y = 0;        // rotated on every 64th step
  std::uint64_t z = 0;        // rotated and fed with the output on every step

  // The words from 32 seed bytes, read as four big-endian numbers w0..w3:
  // counter = w3, x = w0, y = w1, z = w2.
  explicit Rng(const Seed& seed);
  Rng(const Rng&) = default;
  Rng& operator=(const Rng&) = default;
  ~Rng();  // the state is wiped, as the seed it came from is

  // Seeded from the operating system's secure random source, or the error of the last source
  // tried when none can supply a seed.
  static Result<Rng> from_os();

  std::uint64_t get() { return step(counter, x, y, z); }

  // One step on loose words, so that hot loops can keep the state in registers.
  static inline std::uint64_t step(std::uint64_t& counter, std::uint64_t& x, std::uint64_t& y,
                                   std::uint64_t& z) {
    const std::uint64_t out = x ^ y ^ z;
    ++counter;
    const bool swap = (counter & 0x3ff) == 0;
    const std::uint64_t old_x = x;
    x = rotl(swap ? z : old_x, 11);
    if ((counter & 0x3f) == 0) y = rotl(y, 13);
    z = rotl(swap ? old_x : z, 17) + out;
    return out;
  }

 private:
  static constexpr std::uint64_t rotl(std::uint64_t v, unsigned r) {
    return (v << r) | (v >> (64 - r));
  }
};

// Fills the seed from getentropy, or from "/dev/random" where that fails; false when neither
// can supply all 32 bytes, with errno telling why.
bool fill_from_os(Rng::Seed& seed);

}  // namespace jx

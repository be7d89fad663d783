#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace jx {

// The ascending list of primes 2, 3, 5, 7, ... that the prime-product hash draws from,
// extended on demand by trial division of odd candidates.
class Primes {
 public:
  Primes() = default;

  // The prime at position `index` (0 gives 2), extending the list as far as needed.
  std::uint32_t at(std::size_t index);
  std::size_t size() const { return list_.size(); }

 private:
  void extend();

  std::vector<std::uint32_t> list_{2, 3};
};

// The first `count` entries of the same list, found by dividing only by the primes up to the
// square root of each candidate; thousands of times faster than Primes for a full digest.
std::vector<std::uint32_t> first_primes(std::size_t count);

}  // namespace jx

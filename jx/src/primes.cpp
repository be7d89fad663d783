#include "jx/primes.h"

namespace jx {

std::uint32_t Primes::at(std::size_t index) {
  while (list_.size() <= index) extend();
  return list_[index];
}

// Candidates below 8 pass untested; any other is tried against 3, 5, 7, ... below its half.
void Primes::extend() {
  std::uint32_t candidate = list_.back() + 2;
  for (;; candidate += 2) {
    if (candidate < 8) break;
    bool rejected = false;
    for (std::uint32_t divisor = 3; divisor < candidate / 2; divisor += 2) {
      if (candidate % divisor == 0) {
        rejected = true;
        break;
      }
    }
    if (!rejected) break;
  }
  list_.push_back(candidate);
}

std::vector<std::uint32_t> first_primes(std::size_t count) {
  std::vector<std::uint32_t> list{2, 3};
  list.reserve(count);
  for (std::uint32_t candidate = 5; list.size() < count; candidate += 2) {
    bool prime = true;
    for (std::size_t k = 1; std::uint64_t{list[k]} * list[k] <= candidate; ++k) {
      if (candidate % list[k] == 0) {
        prime = false;
        break;
      }
    }
    if (prime) list.push_back(candidate);
  }
  list.resize(count);
  return list;
}

}  // namespace jx

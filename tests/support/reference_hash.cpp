#include "reference_hash.h"

#include <algorithm>
#include <bit>

#include "jx/primes.h"

namespace jx {

namespace {

std::size_t limb_count(std::size_t size) {
  return size / 4 + (size % 4 != 0 ? 1 : 0);
}

// A number of `limb_count` limbs holding the value 1.
Big one(std::size_t limb_count) {
  Big number(limb_count);
  number.limbs[0] += 1;
  number.carry();
  return number;
}

}  // namespace

// Size 0 keeps one limb, so digest works as for any other size and get returns no bytes.
ReferenceHash::ReferenceHash(std::size_t size)
    : value_(one(std::max<std::size_t>(limb_count(size), 1))), size_(size) {}

ReferenceHash ReferenceHash::new_from_state(std::size_t size, std::span<const std::uint32_t> state,
                                            std::uint64_t count) {
  ReferenceHash hash(size);
  auto& limbs = hash.value_.limbs;
  for (std::size_t i = 0; i < limbs.size(); ++i) limbs[i] = i < state.size() ? state[i] : 0;
  hash.count_ = count;
  return hash;
}

void ReferenceHash::digest(std::uint32_t word) {
  ++count_;
  std::uint32_t a = word + static_cast<std::uint32_t>(count_);
  const std::size_t n = value_.limbs.size();
  for (std::size_t i = 0; i < n; ++i) {
    value_.shift(31);
    a += static_cast<std::uint32_t>(i);
    value_.limbs[0] += std::rotl(a, static_cast<int>(i % 32));
    value_.carry();
  }
}

std::vector<std::uint8_t> ReferenceHash::get() const {
  if (size_ == 0) return {};
  const std::size_t n = value_.limbs.size();
  Big product = one(n);
  Primes primes;
  for (std::size_t m = 0; m < 32 * n; ++m) {
    const std::uint64_t bit = (value_.limbs[m / 32] >> (m % 32)) & 1;
    const std::uint32_t prime = primes.at(2 * m + bit);
    for (auto& slot : product.limbs) slot *= prime;
    product.carry();
  }
  std::vector<std::uint8_t> bytes(size_);
  for (std::size_t k = 0; k < size_; ++k) {
    bytes[k] = static_cast<std::uint8_t>(product.limbs[k / 4] >> (24 - 8 * (k % 4)));
  }
  return bytes;
}

}  // namespace jx

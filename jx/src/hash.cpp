#include "jx/hash.h"

#include <algorithm>
#include <bit>

#include "jx/key.h"
#include "jx/primes.h"

namespace jx {

namespace {

std::size_t limb_count(std::size_t size) {
  return size / 4 + (size % 4 != 0 ? 1 : 0);
}

// Multiplies the number in `limbs` by `factor`, modulo 2^(32 * limbs.size()).
void multiply(std::vector<std::uint32_t>& limbs, std::size_t used, std::uint32_t factor) {
  std::uint64_t carry = 0;
  for (std::size_t k = 0; k < used; ++k) {
    const std::uint64_t product = std::uint64_t{limbs[k]} * factor + carry;
    limbs[k] = static_cast<std::uint32_t>(product);
    carry = product >> 32;
  }
  if (used < limbs.size()) limbs[used] = static_cast<std::uint32_t>(carry);
}

}  // namespace

Hash::Hash(std::size_t size) : limbs_(std::max<std::size_t>(limb_count(size), 1), 0), size_(size) {
  limbs_[0] = 1;
}

Hash Hash::new_from_state(std::size_t size, std::span<const std::uint32_t> state,
                          std::uint64_t count) {
  Hash hash(size);
  auto& limbs = hash.limbs_;
  for (std::size_t i = 0; i < limbs.size(); ++i) limbs[i] = i < state.size() ? state[i] : 0;
  hash.count_ = count;
  return hash;
}

Hash::~Hash() {
  wipe(limbs_.data(), limbs_.size() * sizeof(limbs_[0]));
}

// Each step turns the number left by 31 bits, which moves its bottom 31 bits down the buffer,
// then adds the step's term there.
void Hash::digest(std::uint32_t word) {
  ++count_;
  std::uint32_t a = word + static_cast<std::uint32_t>(count_);
  const std::size_t n = limbs_.size();
  if (n == 1) {
    add_term_one_limb(a);
    return;
  }
  const std::size_t bits = 32 * n;
  for (std::size_t i = 0; i < n; ++i) {
    a += static_cast<std::uint32_t>(i);
    offset_ = offset_ >= 31 ? offset_ - 31 : offset_ + bits - 31;
    add_term(std::rotl(a, static_cast<int>(i % 32)));
  }
}

void Hash::digest_bytes(std::span<const std::uint8_t> bytes) {
  for (std::size_t k = 0; k < bytes.size(); k += 4) {
    std::uint32_t word = 0;
    for (std::size_t j = 0; j < 4; ++j) {
      const std::uint32_t byte = k + j < bytes.size() ? bytes[k + j] : 0;
      word = word << 8 | byte;
    }
    digest(word);
  }
}

// A single limb needs no offset, and its only step adds a unrotated.
void Hash::add_term_one_limb(std::uint32_t term) {
  limbs_[0] = std::rotl(limbs_[0], 31) + term;
}

// Adds the term at bit offset_ as one 64-bit addition over the two limbs it spans; a carry
// out of them is rare and goes on from the limb after.
void Hash::add_term(std::uint32_t term) {
  const std::size_t n = limbs_.size();
  const std::size_t bottom = offset_ / 32;
  const unsigned bit = static_cast<unsigned>(offset_ % 32);
  const std::size_t next = bottom + 1 == n ? 0 : bottom + 1;
  const std::uint64_t window = limbs_[bottom] | std::uint64_t{limbs_[next]} << 32;
  const std::uint64_t shifted = std::uint64_t{term} << bit;
  const std::uint64_t sum = window + shifted;
  limbs_[bottom] = static_cast<std::uint32_t>(sum);
  limbs_[next] = static_cast<std::uint32_t>(sum >> 32);
  if (sum < shifted) carry_past(next, bottom, bit);
}

// Adds 1 above `limb`, going round the buffer. The number's top bits are the low `bit` bits of
// the bottom limb; a carry out of them leaves the number and is dropped.
void Hash::carry_past(std::size_t limb, std::size_t bottom, unsigned bit) {
  const std::size_t n = limbs_.size();
  for (;;) {
    limb = limb + 1 == n ? 0 : limb + 1;
    if (limb == bottom) {
      const std::uint32_t top = (std::uint32_t{1} << bit) - 1;
      limbs_[bottom] = (limbs_[bottom] & ~top) | ((limbs_[bottom] + 1) & top);
      return;
    }
    if (++limbs_[limb] != 0) return;
  }
}

std::vector<std::uint32_t> Hash::value() const {
  const std::size_t n = limbs_.size();
  const std::size_t bottom = offset_ / 32;
  const unsigned bit = static_cast<unsigned>(offset_ % 32);
  std::vector<std::uint32_t> logical(n);
  for (std::size_t j = 0; j < n; ++j) {
    const std::size_t low = (bottom + j) % n;
    const std::size_t high = (low + 1) % n;
    const std::uint64_t pair = limbs_[low] | std::uint64_t{limbs_[high]} << 32;
    logical[j] = static_cast<std::uint32_t>(pair >> bit);
  }
  return logical;
}

// Multiplies two primes per pass while their product fits a limb, which it always does for
// the 288-byte digest (its largest prime is 44269).
std::vector<std::uint8_t> Hash::get() const {
  if (size_ == 0) return {};
  std::vector<std::uint32_t> state = value();
  const std::size_t n = state.size();
  const std::size_t bits = 32 * n;
  const std::vector<std::uint32_t> primes = first_primes(2 * bits);
  std::vector<std::uint32_t> product(n, 0);
  product[0] = 1;
  std::size_t used = 1;
  std::uint32_t factor = 1;
  for (std::size_t m = 0; m < bits; ++m) {
    const std::uint32_t bit = (state[m / 32] >> (m % 32)) & 1;
    const std::uint32_t prime = primes[2 * m + bit];
    if (factor > UINT32_MAX / prime) {
      multiply(product, used, factor);
      used = std::min(used + 1, n);
      factor = 1;
    }
    factor *= prime;
  }
  multiply(product, used, factor);
  std::vector<std::uint8_t> bytes(size_);
  for (std::size_t k = 0; k < size_; ++k) {
    bytes[k] = static_cast<std::uint8_t>(product[k / 4] >> (24 - 8 * (k % 4)));
  }
  wipe(state.data(), state.size() * sizeof(state[0]));
  wipe(product.data(), product.size() * sizeof(product[0]));
  return bytes;
}

}  // namespace jx

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace jx {

// The prime-product hash: 32-bit words rotated and added into a state of size bytes, and a
// digest that multiplies one prime per state bit. Linear in the state per word: the state's
// rotation is kept as a bit offset into a circular buffer of 32-bit limbs, so each step only
// adds its term where the number's bottom currently lies.
class Hash {
 public:
  // A hash of `size` digest bytes; a size of 0 keeps one limb of state and digests to nothing.
  explicit Hash(std::size_t size);
  // A hash that goes on from a state and word count as value() and count() report them;
  // limbs beyond the state's width are ignored and missing ones are zero.
  static Hash new_from_state(std::size_t size, std::span<const std::uint32_t> state,
                             std::uint64_t count);
  Hash(const Hash&) = default;
  Hash& operator=(const Hash&) = default;
  ~Hash();  // the state is wiped before its memory is released

  void digest(std::uint32_t word);
  // Absorbs the bytes as big-endian words, a final group of 1 to 3 bytes zero-filled; each
  // call ends its own last group, so only the last call may pass a length not divisible by 4.
  void digest_bytes(std::span<const std::uint8_t> bytes);
  std::vector<std::uint8_t> get() const;

  // The state as a number of 32-bit limbs, least significant first.
  std::vector<std::uint32_t> value() const;
  std::uint64_t count() const { return count_; }
  std::size_t size() const { return size_; }

 private:
  void add_term(std::uint32_t term);
  void add_term_one_limb(std::uint32_t term);
  void carry_past(std::size_t limb, std::size_t bottom, unsigned bit);

  std::vector<std::uint32_t> limbs_;  // the state rotated right by offset_ bits
  std::size_t offset_ = 0;            // physical bit that holds the number's bit 0
  std::uint64_t count_ = 0;
  std::size_t size_;
};

}  // namespace jx

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "jx/big.h"

namespace jx {

// The prime-product hash in its direct form: 32-bit words rotated and added into a state of
// size bytes as one number, and a digest that multiplies one prime per state bit. Slow; the
// reference that jx::Hash is checked against.
class ReferenceHash {
 public:
  // A hash of `size` digest bytes; a size of 0 keeps one limb of state and digests to nothing.
  explicit ReferenceHash(std::size_t size);
  // A hash that goes on from a state and word count as value() and count() report them;
  // limbs beyond the state's width are ignored and missing ones are zero.
  static ReferenceHash new_from_state(std::size_t size, std::span<const std::uint32_t> state,
                                      std::uint64_t count);

  void digest(std::uint32_t word);
  std::vector<std::uint8_t> get() const;

  const Big& value() const { return value_; }
  std::uint64_t count() const { return count_; }
  std::size_t size() const { return size_; }

 private:
  Big value_;
  std::uint64_t count_ = 0;
  std::size_t size_;
};

}  // namespace jx

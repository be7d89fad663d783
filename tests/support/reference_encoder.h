#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "jx/context.h"

namespace jx {

// A reference encoder, written as plainly as possible from the description of the cipher:
// one block at a time, one byte at a time, codes computed from k instead of the tables.

// What the key gives one block: its pad, the order its bytes are gathered in, and the number
// of input bytes it takes.
struct ReferenceBlock {
  std::uint8_t pad[257];
  std::uint8_t order[256];
  std::size_t length;
};

ReferenceBlock reference_block(const Key& key, bool partial, std::uint64_t i);

// The stream of `input`; `rng` ends as the encoder's generator should, `lengths` receives the
// requested length of every block.
std::vector<std::uint8_t> reference_encode(Key key, Rng& rng, Options options,
                                           const std::vector<std::uint8_t>& input,
                                           std::vector<std::size_t>* lengths = nullptr);

}  // namespace jx

#pragma once

#include <cstdint>

#include "jx/key.h"

namespace jxtest {

// A key whose table maps every byte value to itself, with zero words.
jx::Key identity_key();

// A permutation made the way key files get theirs, from bytes of a seeded generator.
jx::Key shuffled_key(std::uint8_t seed_byte);

}  // namespace jxtest

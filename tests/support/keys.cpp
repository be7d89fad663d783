#include "keys.h"

#include <vector>

#include "jx/rng.h"

namespace jxtest {

jx::Key identity_key() {
  jx::Key key;
  for (std::size_t i = 0; i < 256; ++i) key.k[i] = static_cast<std::uint8_t>(i);
  return key;
}

jx::Key shuffled_key(std::uint8_t seed_byte) {
  jx::Rng rng(jx::Rng::Seed{seed_byte, 0x5A, 0xC3});
  std::vector<std::uint8_t> seed(jx::Key::kSeedSize);
  for (auto& byte : seed) byte = static_cast<std::uint8_t>(rng.get());
  return jx::Key::new_from_seed(seed).value();
}

}  // namespace jxtest

#include "jxcli/seeding.h"

#include <cstdio>
#include <cstdlib>

namespace jxcli {

jx::Rng generator_from_os() {
  auto seeded = jx::Rng::from_os();
  if (!seeded) {
    std::fflush(stdout);
    std::fprintf(stderr, "jx::Rng::new() Cannot seed the RNG in a secure manner.\n%s\n",
                 seeded.error().detailed_form().c_str());
    std::exit(101);
  }
  return std::move(seeded).value();
}

}  // namespace jxcli

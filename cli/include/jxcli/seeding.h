#pragma once

#include "jx/rng.h"

namespace jxcli {

// A generator seeded from the operating system. Without a secure source the run stops:
// "jx::Rng::new() Cannot seed the RNG in a secure manner." and the error on standard error,
// status 101.
jx::Rng generator_from_os();

}  // namespace jxcli

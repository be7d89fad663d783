#include "jx/thread_count.h"

#include <sched.h>

#include <algorithm>

namespace jx {

std::size_t default_thread_count() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return 1;
  const int count = CPU_COUNT(&allowed);
  return std::clamp<std::size_t>(static_cast<std::size_t>(std::max(count, 1)), 1,
                                 kMostUsefulThreads);
}

}  // namespace jx

#include "jx/thread_count.h"

#include <sched.h>

#include <algorithm>

namespace jx {

std::size_t default_thread_count() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return 1;
  const auto count = static_cast<std::size_t>(std::max(CPU_COUNT(&allowed), 1));
  if (count < kFewestProcessorsForThreads) return 1;
  return std::min(count, kMostUsefulThreads);
}

}  // namespace jx

#include "jx/thread_count.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <cstddef>
#include <vector>

namespace jx {
namespace {

// The first `count` processors of `allowed`, or an empty set when it holds fewer.
cpu_set_t first_processors(const cpu_set_t& allowed, std::size_t count) {
  cpu_set_t chosen;
  CPU_ZERO(&chosen);
  std::size_t taken = 0;
  for (int cpu = 0; cpu < CPU_SETSIZE && taken < count; ++cpu) {
    if (!CPU_ISSET(cpu, &allowed)) continue;
    CPU_SET(cpu, &chosen);
    ++taken;
  }
  if (taken < count) CPU_ZERO(&chosen);
  return chosen;
}

// The affinity mask of the calling thread, which the default follows, is narrowed for each
// case and put back afterwards.
TEST(ThreadCountTest, DefaultFollowsTheProcessorsTheThreadMayRunOn) {
  cpu_set_t allowed;
  ASSERT_EQ(::sched_getaffinity(0, sizeof allowed, &allowed), 0);
  struct Row {
    std::size_t processors;
    std::size_t threads;
  };
  const std::vector<Row> rows = {{1, 1}, {2, 1}, {3, 3}, {8, 8}, {9, 8}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.processors);
    cpu_set_t chosen = first_processors(allowed, row.processors);
    if (CPU_COUNT(&chosen) == 0) continue;  // this machine has too few processors
    ASSERT_EQ(::sched_setaffinity(0, sizeof chosen, &chosen), 0);
    const std::size_t threads = default_thread_count();
    ASSERT_EQ(::sched_setaffinity(0, sizeof allowed, &allowed), 0);
    EXPECT_EQ(threads, row.threads);
  }
}

}  // namespace
}  // namespace jx

#pragma once

#include <cstddef>

namespace jx {

// The most threads that make a stream faster: the processors the process may run on, as its
// affinity mask tells, up to kMostUsefulThreads; 1 where it may run on fewer than
// kFewestProcessorsForThreads.
std::size_t default_thread_count();

// With fewer processors than this, the threads that read, write and (when inflating) run the
// generator leave too little to the workers: on two processors, two runs of the bench found
// a second thread slower in 18 of their 32 rows and faster in 5.
constexpr std::size_t kFewestProcessorsForThreads = 3;

// Past this many, threads stop helping: the reading, the generator and the writing, each on
// one thread, bound a stream's speed.
constexpr std::size_t kMostUsefulThreads = 8;

}  // namespace jx

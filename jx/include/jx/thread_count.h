#pragma once

#include <cstddef>

namespace jx {

// The most threads that make a stream faster: the processors the process may run on, as its
// affinity mask tells, up to kMostUsefulThreads; at least 1.
std::size_t default_thread_count();

// Past this many, threads stop helping: the reading, the generator and the writing, each on
// one thread, bound a stream's speed.
constexpr std::size_t kMostUsefulThreads = 8;

}  // namespace jx

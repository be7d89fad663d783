#pragma once

#include <cstdint>

namespace jx {

// Streams report progress at every 4096th block, from block 0 on.
constexpr std::uint64_t kBlocksPerProgressMark = 4096;

// Whether the `count` blocks from `first` on include one that reports progress.
inline bool passes_progress_mark(std::uint64_t first, std::uint64_t count) {
  if (count == 0) return false;
  return first % kBlocksPerProgressMark == 0 ||
         first / kBlocksPerProgressMark != (first + count - 1) / kBlocksPerProgressMark;
}

}  // namespace jx

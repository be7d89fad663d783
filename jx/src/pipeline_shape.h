#pragma once

#include <cstddef>
#include <optional>

#include "jx/file.h"

namespace jx {

// How a parallel run is laid out: how many threads transform blocks, how many blocks go in a
// batch, and how many batches are in flight at once, which bounds the run's memory.
struct PipelineShape {
  std::size_t workers;
  std::size_t blocks_per_batch;
  std::size_t batches;
};

// The shape for a stream of blocks stored in `block_size` bytes that may use `threads`
// threads (at most kMostUsefulThreads of them transform, one fewer when an inflating encoder's
// generator needs one), reading `input`; none when one thread is asked for or the input is a
// regular file too small to gain from more.
std::optional<PipelineShape> choose_shape(std::size_t threads, std::size_t block_size,
                                          bool inflating, File& input);

}  // namespace jx

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "chunk_reader.h"
#include "jx/file.h"
#include "jx/io_error.h"

namespace jx {

// The rest of an input for a parallel run: first what a chunk reader has read ahead of it,
// if any, then the file itself.
class InputSource {
 public:
  InputSource(File& file, ChunkReader* read_ahead) : file_(file), read_ahead_(read_ahead) {}

  // Fills the buffer unless the input ends first; returns the count filled.
  Result<std::size_t> read_full(std::span<std::uint8_t> buffer);

 private:
  File& file_;
  ChunkReader* read_ahead_;
};

}  // namespace jx

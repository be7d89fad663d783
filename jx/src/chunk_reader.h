#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "jx/file.h"
#include "jx/io_error.h"

namespace jx {

// Reads a file sequentially in large chunks, through a buffer it is lent, and hands its bytes
// out in smaller pieces. What passed through the buffer is wiped when the reader ends.
class ChunkReader {
 public:
  ChunkReader(File& file, std::span<std::uint8_t> buffer);
  ~ChunkReader();
  ChunkReader(const ChunkReader&) = delete;
  ChunkReader& operator=(const ChunkReader&) = delete;

  // Makes at least `wanted` bytes (at most the capacity) available, fewer only when the input
  // has ended; returns the count available.
  Result<std::size_t> fill(std::size_t wanted);
  const std::uint8_t* data() const { return buffer_.data() + begin_; }
  std::size_t available() const { return end_ - begin_; }
  void consume(std::size_t count) { begin_ += count; }

 private:
  File& file_;
  std::span<std::uint8_t> buffer_;
  std::size_t begin_ = 0, end_ = 0;
  std::size_t touched_ = 0;  // how far the buffer has held data
  bool ended_ = false;
};

}  // namespace jx

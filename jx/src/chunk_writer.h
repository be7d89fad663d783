#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "jx/file.h"
#include "jx/io_error.h"

namespace jx {

// Collects output in a buffer it is lent and writes it to a file in large chunks, each chunk
// completely. What passed through the buffer is wiped when the writer ends.
//
// Every few megabytes it asks the system to start writing what the file has accepted to disk,
// without waiting: the disk then works while the next blocks are made, and the flush before
// an output takes its name has only the tail left to wait for.
class ChunkWriter {
 public:
  ChunkWriter(File& file, std::span<std::uint8_t> buffer);
  ~ChunkWriter();
  ChunkWriter(const ChunkWriter&) = delete;
  ChunkWriter& operator=(const ChunkWriter&) = delete;

  // Room for `size` bytes (at most the capacity) at the end of the pending output, writing
  // the pending output first when it lacks the room; `advance` then takes them in.
  Result<std::uint8_t*> reserve(std::size_t size);
  void advance(std::size_t size) { pending_ += size; }
  // Drops the last `size` bytes taken in; they must not have been written out yet.
  void take_back(std::size_t size) { pending_ -= size; }
  Status append(std::span<const std::uint8_t> bytes);
  // Writes all pending output. A write that accepts nothing is "failed to write whole buffer"
  // and leaves stalled() true.
  Status flush();
  // Writes the pending output and then `bytes`, straight from where they are, together in
  // as few writes as the file takes.
  Status write_through(std::span<const std::uint8_t> bytes);

  std::uint64_t written() const { return written_; }  // bytes the file has accepted
  bool stalled() const { return stalled_; }

 private:
  Status write_out(const std::uint8_t* bytes, std::size_t size);
  // The error of a write that accepted nothing; marks the writer stalled.
  IoError stall();
  // Counts bytes the file accepted, and starts their way to disk every kWritebackStep.
  void count_written(std::size_t size);

  File& file_;
  std::span<std::uint8_t> buffer_;
  std::size_t pending_ = 0;
  std::size_t touched_ = 0;  // how far the buffer has held data
  std::uint64_t written_ = 0;
  std::uint64_t since_writeback_ = 0;
  bool writeback_ = true;  // false once the file has refused (a pipe, a terminal)
  bool stalled_ = false;
};

}  // namespace jx

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "jx/io_error.h"
#include "jx/key.h"
#include "wiped_buffer.h"

namespace jx {

// A run of consecutive blocks of a stream, handed from stage to stage of a parallel run
// together with the buffers that hold it; the buffers are reused from batch to batch.
struct Batch {
  Batch(std::size_t blocks_at_most, std::size_t input_size, std::size_t output_size,
        std::size_t drawn_size)
      : lengths(blocks_at_most), input(input_size), output(output_size), drawn(drawn_size) {}
  Batch(Batch&&) noexcept = default;
  Batch& operator=(Batch&&) noexcept = default;
  // The lengths come from the key, and are wiped with the buffers.
  ~Batch() {
    if (!lengths.empty()) wipe(lengths.data(), lengths.size() * sizeof lengths[0]);
  }

  std::uint64_t number = 0;       // batches are numbered from 0 in stream order
  std::uint64_t first_block = 0;  // the stream's number of the batch's first block
  std::size_t blocks = 0;
  std::vector<std::uint16_t> lengths;  // input bytes of each block
  WipedBuffer input;
  WipedBuffer output;
  WipedBuffer drawn;             // generator output the blocks draw, in the order drawn
  std::size_t consumed = 0;      // bytes of input the batch took
  std::size_t produced = 0;      // bytes of output it holds
  std::uint64_t footer = 0;      // the stream's input size, in a decoded stream's last batch
  std::optional<IoError> error;  // what stopped the batch; the run ends with it
  bool last = false;
};

}  // namespace jx

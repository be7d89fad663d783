#pragma once

#include <cstdint>
#include <optional>

#include "batch_stages.h"
#include "chunk_writer.h"
#include "input_source.h"
#include "jx/context.h"
#include "pipeline_shape.h"

namespace jx {

// Encrypts the blocks of a stream on several threads, with bytes identical to one thread's:
// the filling thread reads each batch and draws from the generator, in stream order, the
// filler and code choices of its blocks; workers scramble and expand; the calling thread
// writes. The context's key words must be rewritten and the header taken by the writer.
class ParallelEncoder final : public BatchStages {
 public:
  ParallelEncoder(Context& context, File& input, ChunkWriter& writer, const PipelineShape& shape);

  // The run's status; none when the threads or their memory could not be had, and nothing
  // was read.
  std::optional<Status> run();
  std::uint64_t input_size() const { return input_size_; }
  std::uint64_t blocks() const { return blocks_; }

  bool fill(Batch& batch) override;
  void transform(Batch& batch) override;
  Status drain(Batch& batch) override;

 private:
  void draw(Batch& batch, std::size_t& drawn, std::size_t count);

  Context& context_;
  InputSource source_;
  ChunkWriter& writer_;
  PipelineShape shape_;
  std::size_t block_size_;
  std::uint64_t input_size_ = 0;
  std::uint64_t blocks_ = 0;
};

}  // namespace jx

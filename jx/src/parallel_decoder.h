#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "batch_stages.h"
#include "block_plan.h"
#include "chunk_reader.h"
#include "chunk_writer.h"
#include "input_source.h"
#include "jx/context.h"
#include "pipeline_shape.h"

namespace jx {

// Decrypts the blocks and checks the footer of a stream on several threads, with bytes
// identical to one thread's. Each batch is read with the next block and the footer's eight
// bytes behind it, carried over to the next batch, so that the last batch always holds the
// last block, whose surplus the footer cuts off. The header must have been read through
// `read_ahead` and the context's key words rewritten.
class ParallelDecoder final : public BatchStages {
 public:
  ParallelDecoder(const Context& context, const ByteTable& position, File& input,
                  ChunkReader& read_ahead, ChunkWriter& writer, const PipelineShape& shape);

  // The run's status; none when the threads or their memory could not be had, and nothing
  // was read.
  std::optional<Status> run();

  bool fill(Batch& batch) override;
  void transform(Batch& batch) override;
  Status drain(Batch& batch) override;

 private:
  const Context& context_;
  const ByteTable& position_;
  InputSource source_;
  ChunkWriter& writer_;
  PipelineShape shape_;
  std::size_t block_size_;
  std::size_t carry_size_;  // the stored bytes a full batch leaves to the next
  WipedBuffer carried_;
  std::size_t carried_size_ = 0;
  std::uint64_t blocks_ = 0;
  std::uint64_t before_last_ = 0;  // output bytes of the blocks before the last one decoded
  std::uint64_t through_last_ = 0;
};

}  // namespace jx

#include "parallel_decoder.h"

#include <cstring>
#include <new>
#include <vector>

#include "batch_pipeline.h"
#include "jx/byte_order.h"
#include "jx/format.h"
#include "progress_marks.h"

namespace jx {

ParallelDecoder::ParallelDecoder(const Context& context, const ByteTable& position, File& input,
                                 ChunkReader& read_ahead, ChunkWriter& writer,
                                 const PipelineShape& shape)
    : context_(context),
      position_(position),
      source_(input, &read_ahead),
      writer_(writer),
      shape_(shape),
      block_size_(context.options.inflate ? format::kInflatedBlockSize : format::kBlockSize),
      carry_size_(block_size_ + format::kFooterSize),
      carried_(carry_size_) {}

std::optional<Status> ParallelDecoder::run() {
  std::vector<Batch> ring;
  const std::size_t blocks = shape_.blocks_per_batch;
  try {
    ring.reserve(shape_.batches);
    for (std::size_t i = 0; i < shape_.batches; ++i) {
      ring.emplace_back(blocks, blocks * block_size_ + carry_size_, blocks * 256, 0);
    }
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  BatchPipeline pipeline(ring, shape_.workers);
  if (!pipeline.start(*this)) return std::nullopt;
  if (auto decoded = pipeline.run(*this); !decoded) return decoded;
  return writer_.flush();
}

bool ParallelDecoder::fill(Batch& batch) {
  batch.first_block = batch.number * shape_.blocks_per_batch;
  batch.error.reset();
  std::memcpy(batch.input.data(), carried_.data(), carried_size_);
  const std::size_t capacity = batch.input.size();
  auto got = source_.read_full({batch.input.data() + carried_size_, capacity - carried_size_});
  if (!got) {
    batch.blocks = 0;
    batch.error = got.error();
    batch.last = true;
    return true;
  }
  const std::size_t held = carried_size_ + got.value();
  if (held == capacity) {
    batch.blocks = shape_.blocks_per_batch;
    carried_size_ = carry_size_;
    std::memcpy(carried_.data(), batch.input.data() + capacity - carry_size_, carry_size_);
    batch.last = false;
    return false;
  }
  batch.blocks = held >= format::kFooterSize ? (held - format::kFooterSize) / block_size_ : 0;
  const std::size_t footer_at = batch.blocks * block_size_;
  if (held - footer_at != format::kFooterSize) {
    batch.error = IoError::custom(ErrorKind::InvalidData, "stream is truncated or corrupted");
  } else {
    batch.footer = load_big_endian_64(batch.input.data() + footer_at);
  }
  batch.last = true;
  return true;
}

void ParallelDecoder::transform(Batch& batch) {
  if (batch.error) return;
  BlockPlan plan;
  std::array<std::uint8_t, 256> contracted;
  const std::uint8_t* stored = batch.input.data();
  std::size_t produced = 0;
  for (std::size_t j = 0; j < batch.blocks; ++j, stored += block_size_) {
    plan_block(context_.key, context_.options.partial, batch.first_block + j, plan);
    const std::uint8_t* scrambled = stored;
    if (context_.options.inflate) {
      contract(context_, position_, stored, contracted.data());
      scrambled = contracted.data();
    }
    // The bytes past the block's length are overwritten by the next block.
    unscramble(plan, position_, scrambled, batch.output.data() + produced);
    batch.lengths[j] = static_cast<std::uint16_t>(plan.length);
    produced += plan.length;
  }
  batch.produced = produced;
  wipe(contracted.data(), contracted.size());
}

Status ParallelDecoder::drain(Batch& batch) {
  if (batch.error) return *batch.error;
  if (batch.blocks > 0) {
    before_last_ = through_last_ + batch.produced - batch.lengths[batch.blocks - 1];
    through_last_ += batch.produced;
    blocks_ += batch.blocks;
  }
  std::size_t keep = batch.produced;
  if (batch.last) {
    const std::uint64_t total = batch.footer;
    const bool agrees = blocks_ == 0 ? total == 0 : before_last_ < total && total <= through_last_;
    if (!agrees) {
      return IoError::custom(ErrorKind::InvalidData, "stream is truncated or corrupted");
    }
    keep -= static_cast<std::size_t>(through_last_ - total);
  }
  if (auto written = writer_.write_through({batch.output.data(), keep}); !written) return written;
  if (context_.on_progress && passes_progress_mark(batch.first_block, batch.blocks)) {
    context_.on_progress(format::kHeaderSize + (batch.first_block + batch.blocks) * block_size_);
  }
  return Done{};
}

}  // namespace jx

#include "parallel_encoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "batch_pipeline.h"
#include "block_plan.h"
#include "jx/format.h"
#include "progress_marks.h"

namespace jx {
namespace {

// The most generator bytes one block draws: filler for all but one byte, then its code
// choices.
std::size_t drawn_per_block(const Options& options) {
  if (options.inflate) return 255 + 768;
  return options.partial ? 127 : 0;
}

}  // namespace

ParallelEncoder::ParallelEncoder(Context& context, File& input, ChunkWriter& writer,
                                 const PipelineShape& shape)
    : context_(context),
      source_(input, nullptr),
      writer_(writer),
      shape_(shape),
      block_size_(context.options.inflate ? format::kInflatedBlockSize : format::kBlockSize) {}

std::optional<Status> ParallelEncoder::run() {
  std::vector<Batch> ring;
  const std::size_t blocks = shape_.blocks_per_batch;
  try {
    ring.reserve(shape_.batches);
    for (std::size_t i = 0; i < shape_.batches; ++i) {
      ring.emplace_back(blocks, blocks * 256, blocks * block_size_,
                        blocks * drawn_per_block(context_.options) + 256);
    }
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  BatchPipeline pipeline(ring, shape_.workers);
  if (!pipeline.start(*this)) return std::nullopt;
  return pipeline.run(*this);
}

void ParallelEncoder::draw(Batch& batch, std::size_t& drawn, std::size_t count) {
  draw_bytes(context_.rng, batch.drawn.data() + drawn, count);
  drawn += count;
}

bool ParallelEncoder::fill(Batch& batch) {
  batch.first_block = batch.number * shape_.blocks_per_batch;
  batch.blocks = 0;
  batch.error.reset();
  std::size_t wanted = 0;
  for (std::size_t j = 0; j < shape_.blocks_per_batch; ++j) {
    const std::size_t length =
        block_length(context_.key, context_.options.partial, batch.first_block + j);
    batch.lengths[j] = static_cast<std::uint16_t>(length);
    wanted += length;
  }
  auto got = source_.read_full({batch.input.data(), wanted});
  if (!got) {
    batch.error = got.error();
    batch.last = true;
    return true;
  }
  std::size_t left = got.value();
  std::size_t drawn = 0;
  for (std::size_t j = 0; j < shape_.blocks_per_batch && left > 0; ++j) {
    const std::size_t taken = std::min<std::size_t>(batch.lengths[j], left);
    if (taken < 256) draw(batch, drawn, 256 - taken);
    if (context_.options.inflate) draw(batch, drawn, 768);
    batch.lengths[j] = static_cast<std::uint16_t>(taken);
    left -= taken;
    ++batch.blocks;
  }
  batch.consumed = got.value();
  batch.last = got.value() < wanted;
  return batch.last;
}

void ParallelEncoder::transform(Batch& batch) {
  if (batch.error) return;
  BlockPlan plan;
  std::array<std::uint8_t, 256> short_block;
  std::array<std::uint8_t, 256> scrambled;
  const std::uint8_t* input = batch.input.data();
  const std::uint8_t* drawn = batch.drawn.data();
  std::uint8_t* output = batch.output.data();
  for (std::size_t j = 0; j < batch.blocks; ++j, output += block_size_) {
    plan_block(context_.key, context_.options.partial, batch.first_block + j, plan);
    const std::size_t taken = batch.lengths[j];
    const std::uint8_t* source = input;
    if (taken < 256) {
      std::memcpy(short_block.data(), input, taken);
      std::memcpy(short_block.data() + taken, drawn, 256 - taken);
      drawn += 256 - taken;
      source = short_block.data();
    }
    input += taken;
    if (context_.options.inflate) {
      scramble(plan, context_.key.k, source, scrambled.data());
      expand(*context_.tables, scrambled.data(), drawn, output);
      drawn += 768;
    } else {
      scramble(plan, context_.key.k, source, output);
    }
  }
  batch.produced = batch.blocks * block_size_;
  wipe(short_block.data(), short_block.size());
  wipe(scrambled.data(), scrambled.size());
}

Status ParallelEncoder::drain(Batch& batch) {
  if (batch.error) return *batch.error;
  if (auto written = writer_.write_through({batch.output.data(), batch.produced}); !written) {
    return written;
  }
  input_size_ += batch.consumed;
  blocks_ += batch.blocks;
  if (context_.on_progress && passes_progress_mark(batch.first_block, batch.blocks)) {
    context_.on_progress(input_size_);
  }
  return Done{};
}

}  // namespace jx

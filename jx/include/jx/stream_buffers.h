#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace jx {

// The input and output chunk buffers of a stream. A run makes one set and lends it to each of
// its streams in turn, so that a small file costs no fresh allocation; a stream wipes what it
// put in them before it ends.
class StreamBuffers {
 public:
  static constexpr std::size_t kChunkSize = 256 * 1024;

  StreamBuffers()
      : input_(std::make_unique_for_overwrite<std::uint8_t[]>(kChunkSize)),
        output_(std::make_unique_for_overwrite<std::uint8_t[]>(kChunkSize)) {}

  std::span<std::uint8_t> input() { return {input_.get(), kChunkSize}; }
  std::span<std::uint8_t> output() { return {output_.get(), kChunkSize}; }

 private:
  std::unique_ptr<std::uint8_t[]> input_;
  std::unique_ptr<std::uint8_t[]> output_;
};

}  // namespace jx

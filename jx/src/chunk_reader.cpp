#include "chunk_reader.h"

#include <algorithm>
#include <cstring>

#include "jx/key.h"

namespace jx {

ChunkReader::ChunkReader(File& file, std::size_t capacity)
    : file_(file),
      buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(capacity)),
      capacity_(capacity) {}

ChunkReader::~ChunkReader() {
  wipe(buffer_.get(), touched_);
}

Result<std::size_t> ChunkReader::fill(std::size_t wanted) {
  if (available() >= wanted || ended_) return available();
  std::memmove(buffer_.get(), data(), available());
  end_ = available();
  begin_ = 0;
  const std::size_t room = capacity_ - end_;
  auto got = file_.read_full({buffer_.get() + end_, room});
  if (!got) return got.error();
  end_ += got.value();
  ended_ = got.value() < room;
  touched_ = std::max(touched_, end_);
  return available();
}

}  // namespace jx

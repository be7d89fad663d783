#include "chunk_reader.h"

#include <algorithm>
#include <cstring>

#include "jx/key.h"

namespace jx {

ChunkReader::ChunkReader(File& file, std::span<std::uint8_t> buffer)
    : file_(file), buffer_(buffer) {}

ChunkReader::~ChunkReader() {
  wipe(buffer_.data(), touched_);
}

Result<std::size_t> ChunkReader::fill(std::size_t wanted) {
  if (available() >= wanted || ended_) return available();
  std::memmove(buffer_.data(), data(), available());
  end_ = available();
  begin_ = 0;
  const std::size_t room = buffer_.size() - end_;
  auto got = file_.read_full({buffer_.data() + end_, room});
  if (!got) return got.error();
  end_ += got.value();
  ended_ = got.value() < room;
  touched_ = std::max(touched_, end_);
  return available();
}

}  // namespace jx

#include "chunk_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "jx/key.h"

namespace jx {

ChunkWriter::ChunkWriter(File& file, std::span<std::uint8_t> buffer)
    : file_(file), buffer_(buffer) {}

ChunkWriter::~ChunkWriter() {
  wipe(buffer_.data(), touched_);
}

Result<std::uint8_t*> ChunkWriter::reserve(std::size_t size) {
  if (buffer_.size() - pending_ < size) {
    if (auto flushed = flush(); !flushed) return flushed.error();
  }
  touched_ = std::max(touched_, pending_ + size);
  return buffer_.data() + pending_;
}

Status ChunkWriter::append(std::span<const std::uint8_t> bytes) {
  auto room = reserve(bytes.size());
  if (!room) return room.error();
  std::memcpy(room.value(), bytes.data(), bytes.size());
  advance(bytes.size());
  return Done{};
}

Status ChunkWriter::flush() {
  std::size_t done = 0;
  while (done < pending_) {
    const ssize_t n = ::write(file_.fd(), buffer_.data() + done, pending_ - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return IoError::os(errno);
    }
    if (n == 0) {
      stalled_ = true;
      return IoError::simple(ErrorKind::WriteZero, "failed to write whole buffer");
    }
    done += static_cast<std::size_t>(n);
    written_ += static_cast<std::uint64_t>(n);
  }
  pending_ = 0;
  return Done{};
}

}  // namespace jx

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
  if (auto written = write_out(buffer_.data(), pending_); !written) return written;
  pending_ = 0;
  return Done{};
}

Status ChunkWriter::write_through(std::span<const std::uint8_t> bytes) {
  if (pending_ > 0 && buffer_.size() - pending_ >= bytes.size()) {
    if (auto appended = append(bytes); !appended) return appended;
    return flush();
  }
  if (auto flushed = flush(); !flushed) return flushed;
  return write_out(bytes.data(), bytes.size());
}

Status ChunkWriter::write_out(const std::uint8_t* bytes, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(file_.fd(), bytes + done, size - done);
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
  return Done{};
}

}  // namespace jx

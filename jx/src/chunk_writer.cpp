#include "chunk_writer.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "jx/key.h"

namespace jx {
namespace {

constexpr std::uint64_t kWritebackStep = 4 * 1024 * 1024;

}  // namespace

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
  while (pending_ > 0 && !bytes.empty()) {
    iovec parts[2] = {{buffer_.data(), pending_},
                      {const_cast<std::uint8_t*>(bytes.data()), bytes.size()}};
    const ssize_t n = ::writev(file_.fd(), parts, 2);
    if (n < 0) {
      if (errno == EINTR) continue;
      return IoError::os(errno);
    }
    if (n == 0) return stall();
    const auto done = static_cast<std::size_t>(n);
    count_written(done);
    if (done < pending_) {
      std::memmove(buffer_.data(), buffer_.data() + done, pending_ - done);
      pending_ -= done;
    } else {
      bytes = bytes.subspan(done - pending_);
      pending_ = 0;
    }
  }
  if (auto flushed = flush(); !flushed) return flushed;
  return write_out(bytes.data(), bytes.size());
}

IoError ChunkWriter::stall() {
  stalled_ = true;
  return IoError::simple(ErrorKind::WriteZero, "failed to write whole buffer");
}

Status ChunkWriter::write_out(const std::uint8_t* bytes, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(file_.fd(), bytes + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return IoError::os(errno);
    }
    if (n == 0) return stall();
    done += static_cast<std::size_t>(n);
    count_written(static_cast<std::size_t>(n));
  }
  return Done{};
}

void ChunkWriter::count_written(std::size_t size) {
  written_ += size;
  since_writeback_ += size;
  if (!writeback_ || since_writeback_ < kWritebackStep) return;
  since_writeback_ = 0;
  // Offset 0 and length 0: every dirty page of the file; pages already on their way are skipped.
  if (::sync_file_range(file_.fd(), 0, 0, SYNC_FILE_RANGE_WRITE) != 0) writeback_ = false;
}

}  // namespace jx

#include "jx/file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace jx {

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

File::~File() { close(); }

void File::close() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

namespace {
Result<File> open_with(const std::string& path, int flags) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return IoError::os(errno);
  return File(fd);
}
}  // namespace

Result<File> File::open_read(const std::string& path) {
  return open_with(path, O_RDONLY | O_CLOEXEC);
}

Result<File> File::open_read_without_waiting(const std::string& path) {
  return open_with(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

Status File::wait_for_input() {
  struct stat info;
  if (::fstat(fd_, &info) != 0) return IoError::os(errno);
  // A fifo opened before its writer reads as ended: wait until a writer has come, which
  // shows as bytes to read or as the writer gone again.
  if (S_ISFIFO(info.st_mode)) {
    pollfd ready{fd_, POLLIN, 0};
    while (::poll(&ready, 1, -1) < 0) {
      if (errno != EINTR) return IoError::os(errno);
    }
  }
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) return IoError::os(errno);
  return Done{};
}

Result<std::size_t> File::read_some(std::span<std::uint8_t> buffer) {
  for (;;) {
    ssize_t n = ::read(fd_, buffer.data(), buffer.size());
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return IoError::os(errno);
  }
}

Result<std::size_t> File::read_full(std::span<std::uint8_t> buffer) {
  std::size_t filled = 0;
  while (filled < buffer.size()) {
    auto n = read_some(buffer.subspan(filled));
    if (!n) return n.error();
    if (n.value() == 0) break;
    filled += n.value();
  }
  return filled;
}

Status File::read_exact(std::span<std::uint8_t> buffer) {
  auto n = read_full(buffer);
  if (!n) return n.error();
  if (n.value() < buffer.size()) {
    return IoError::simple(ErrorKind::UnexpectedEof, "failed to fill whole buffer");
  }
  return Done{};
}

Status File::write_all(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return IoError::os(errno);
    }
    if (n == 0) return IoError::simple(ErrorKind::WriteZero, "failed to write whole buffer");
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return Done{};
}

namespace {
Result<std::uint64_t> seek(int fd, off_t offset, int whence) {
  off_t at = ::lseek(fd, offset, whence);
  if (at < 0) return IoError::os(errno);
  return static_cast<std::uint64_t>(at);
}
}  // namespace

Result<std::uint64_t> File::seek_set(std::uint64_t offset) {
  return seek(fd_, static_cast<off_t>(offset), SEEK_SET);
}
Result<std::uint64_t> File::seek_end() { return seek(fd_, 0, SEEK_END); }
Result<std::uint64_t> File::position() { return seek(fd_, 0, SEEK_CUR); }

bool path_exists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace jx

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "jx/io_error.h"

namespace jx {

// An open file descriptor, closed when the value goes out of scope.
class File {
 public:
  File() = default;
  explicit File(int fd) : fd_(fd) {}
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  static Result<File> open_read(const std::string& path);
  // Opens for reading without waiting for a fifo's writer; wait_for_input() then makes the
  // descriptor read as one from open_read() would.
  static Result<File> open_read_without_waiting(const std::string& path);
  // Makes reads wait for input again; a fifo is first waited on until a writer has come.
  Status wait_for_input();

  int fd() const { return fd_; }
  bool is_open() const { return fd_ >= 0; }
  void close();
  // Gives up ownership of the descriptor without closing it.
  int release() { return std::exchange(fd_, -1); }

  // One read request; interrupted reads are repeated. Returns the count, 0 at end of input.
  Result<std::size_t> read_some(std::span<std::uint8_t> buffer);
  // Reads until the buffer is full or the input ends; returns the count read.
  Result<std::size_t> read_full(std::span<std::uint8_t> buffer);
  // Reads exactly the buffer's size; fewer bytes is "failed to fill whole buffer".
  Status read_exact(std::span<std::uint8_t> buffer);
  // Writes every byte, continuing short writes; a write that accepts nothing is
  // "failed to write whole buffer".
  Status write_all(std::span<const std::uint8_t> bytes);

  Result<std::uint64_t> seek_set(std::uint64_t offset);
  Result<std::uint64_t> seek_end();
  Result<std::uint64_t> position();

 private:
  int fd_ = -1;
};

// Reports whether anything, a dangling symbolic link included, stands at the path.
bool path_exists(const std::string& path);

}  // namespace jx

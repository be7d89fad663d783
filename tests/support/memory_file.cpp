#include "memory_file.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

namespace jxtest {

jx::File memory_file(std::span<const std::uint8_t> bytes) {
  jx::File file(::memfd_create("jx-test", MFD_CLOEXEC));
  if (!file.is_open() || !file.write_all(bytes) || !file.seek_set(0)) {
    throw std::runtime_error("cannot make a file in memory");
  }
  return file;
}

std::vector<std::uint8_t> contents_of(const jx::File& file) {
  struct stat info {};
  if (::fstat(file.fd(), &info) != 0) throw std::runtime_error("cannot measure a file");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
  if (::pread(file.fd(), bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
    throw std::runtime_error("cannot read a file");
  }
  return bytes;
}

}  // namespace jxtest

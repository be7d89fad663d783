#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "jx/file.h"

namespace jxfuzz {

// An in-memory file holding the bytes, positioned at its start; the fuzz run stops if the
// system cannot make one.
inline jx::File memory_file(const std::uint8_t* data, std::size_t size) {
  jx::File file(::memfd_create("jx-fuzz", MFD_CLOEXEC));
  if (!file.is_open() || !file.write_all({data, size}) || !file.seek_set(0)) std::abort();
  return file;
}

// The last eight bytes as a big-endian number; `size` is at least 8.
inline std::uint64_t big_endian_tail(const std::uint8_t* data, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = size - 8; i < size; ++i) value = value << 8 | data[i];
  return value;
}

}  // namespace jxfuzz

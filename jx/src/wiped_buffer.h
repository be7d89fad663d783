#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "jx/key.h"

namespace jx {

// A byte buffer of fixed size, wiped whole when released.
class WipedBuffer {
 public:
  explicit WipedBuffer(std::size_t size)
      : bytes_(std::make_unique_for_overwrite<std::uint8_t[]>(size)), size_(size) {}
  WipedBuffer(WipedBuffer&&) noexcept = default;
  WipedBuffer& operator=(WipedBuffer&&) noexcept = default;
  ~WipedBuffer() {
    if (bytes_) wipe(bytes_.get(), size_);
  }

  std::uint8_t* data() { return bytes_.get(); }
  const std::uint8_t* data() const { return bytes_.get(); }
  std::size_t size() const { return size_; }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t size_;
};

}  // namespace jx

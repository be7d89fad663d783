#include "input_source.h"

#include <algorithm>
#include <cstring>

namespace jx {

Result<std::size_t> InputSource::read_full(std::span<std::uint8_t> buffer) {
  std::size_t filled = 0;
  if (read_ahead_ != nullptr && read_ahead_->available() > 0) {
    filled = std::min(buffer.size(), read_ahead_->available());
    std::memcpy(buffer.data(), read_ahead_->data(), filled);
    read_ahead_->consume(filled);
  }
  if (filled == buffer.size()) return filled;
  auto got = file_.read_full(buffer.subspan(filled));
  if (!got) return got.error();
  return filled + got.value();
}

}  // namespace jx

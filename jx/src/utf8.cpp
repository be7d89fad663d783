#include "jx/utf8.h"

#include <cstdint>

namespace jx {
namespace {

// Length of the sequence a lead byte starts, 0 for a byte that cannot start one.
std::size_t sequence_length(std::uint8_t lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// The range the second byte must fall in after a given lead byte.
bool second_byte_fits(std::uint8_t lead, std::uint8_t next) {
  switch (lead) {
    case 0xE0: return next >= 0xA0 && next <= 0xBF;
    case 0xED: return next >= 0x80 && next <= 0x9F;
    case 0xF0: return next >= 0x90 && next <= 0xBF;
    case 0xF4: return next >= 0x80 && next <= 0x8F;
    default: return next >= 0x80 && next <= 0xBF;
  }
}

bool is_continuation(std::uint8_t byte) { return byte >= 0x80 && byte <= 0xBF; }

}  // namespace

std::string Utf8Problem::description() const {
  if (length == 0) return "incomplete utf-8 byte sequence from index " + std::to_string(index);
  return "invalid utf-8 sequence of " + std::to_string(length) + " bytes from index " +
         std::to_string(index);
}

std::optional<Utf8Problem> find_utf8_problem(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<std::uint8_t>(text[at]);
    const std::size_t length = sequence_length(lead);
    if (length == 0) return Utf8Problem{at, 1};
    std::size_t good = 1;  // bytes of the sequence that are right so far
    while (good < length) {
      if (at + good >= text.size()) return Utf8Problem{at, 0};
      const auto byte = static_cast<std::uint8_t>(text[at + good]);
      const bool fits = good == 1 ? second_byte_fits(lead, byte) : is_continuation(byte);
      if (!fits) return Utf8Problem{at, good};
      ++good;
    }
    at += length;
  }
  return std::nullopt;
}

char32_t next_scalar(std::string_view text, std::size_t& at) {
  const auto lead = static_cast<std::uint8_t>(text[at]);
  const std::size_t length = sequence_length(lead);
  if (length <= 1) {
    ++at;
    return lead;
  }
  char32_t value = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    value = (value << 6) | (static_cast<std::uint8_t>(text[at + i]) & 0x3F);
  }
  at += length;
  return value;
}

}  // namespace jx

#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace jx {

// Where and how a byte sequence stops being UTF-8.
struct Utf8Problem {
  std::size_t index = 0;     // first byte of the bad sequence
  std::size_t length = 0;    // length of its maximal invalid subpart; 0 when the text ends inside
                             // a sequence that is valid so far
  // "invalid utf-8 sequence of N bytes from index I" or
  // "incomplete utf-8 byte sequence from index I"
  std::string description() const;
};

// The first problem in the text, or nothing when it is valid UTF-8.
std::optional<Utf8Problem> find_utf8_problem(std::string_view text);

inline bool is_utf8(std::string_view text) { return !find_utf8_problem(text); }

// Calls `each` with every Unicode scalar value of a valid UTF-8 text, in order.
template <class Each>
void for_each_scalar(std::string_view text, Each each);

// Decodes the scalar value starting at text[at] of a valid UTF-8 text; advances `at`.
char32_t next_scalar(std::string_view text, std::size_t& at);

template <class Each>
void for_each_scalar(std::string_view text, Each each) {
  std::size_t at = 0;
  while (at < text.size()) each(next_scalar(text, at));
}

}  // namespace jx

#include "jx/utf8.h"

#include <gtest/gtest.h>

#include <vector>

namespace jx {
namespace {

TEST(Utf8Test, DescribesTheFirstProblem) {
  struct Row {
    std::string bytes;
    const char* description;  // nullptr: valid
  };
  const Row rows[] = {
      {"JXD", nullptr},
      {"", nullptr},
      {"\xC3\xA9", nullptr},
      {"\xF0\x9F\x98\x80", nullptr},
      {"\xE2\x82\x41", "invalid utf-8 sequence of 2 bytes from index 0"},
      {"\xE0\x80\x41", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\x41\xFF\x41", "invalid utf-8 sequence of 1 bytes from index 1"},
      {"\xF0\x9F\x98", "incomplete utf-8 byte sequence from index 0"},
      {"\xFF", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"ab\xC3", "incomplete utf-8 byte sequence from index 2"},
      {"\xED\xA0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},  // a surrogate
      {"\xC0\xAF", "invalid utf-8 sequence of 1 bytes from index 0"},      // overlong
      {"\xF4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},  // above U+10FFFF
      {"\xF0\x9F\x41", "invalid utf-8 sequence of 2 bytes from index 0"},
      {"\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.bytes));
    auto problem = find_utf8_problem(row.bytes);
    if (row.description == nullptr) {
      EXPECT_FALSE(problem.has_value());
    } else {
      ASSERT_TRUE(problem.has_value());
      EXPECT_EQ(problem->description(), row.description);
    }
  }
}

TEST(Utf8Test, ScalarValuesOneWordPerCharacter) {
  std::vector<char32_t> scalars;
  for_each_scalar("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", [&](char32_t c) { scalars.push_back(c); });
  EXPECT_EQ(scalars, (std::vector<char32_t>{0x61, 0xE9, 0x20AC, 0x1F600}));
}

}  // namespace
}  // namespace jx

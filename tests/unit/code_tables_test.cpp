#include "jx/code_tables.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "jx/rng.h"
#include "keys.h"

namespace jx {
namespace {

using jxtest::identity_key;
using jxtest::shuffled_key;

std::shared_ptr<const CodeTables> all_tables_of(const Key& key) {
  return CodeTables::build(key, CodeTables::Use::Both);
}

TEST(CodeTablesTest, IdentityTableCodes) {
  auto tables = all_tables_of(identity_key());
  // Worked by hand: v = 0x3A, choice 0x5C (j = 5, m = 12).
  EXPECT_EQ(tables->row_codes()[0x3A][0x5C], 0x35AC);
  EXPECT_EQ(tables->col_codes()[0x3A][0x5C], 0x53CA);
  EXPECT_EQ(tables->row_inverse()[0x35AC], 0x3A);
  EXPECT_EQ(tables->col_inverse()[0x53CA], 0x3A);
  for (unsigned v = 0; v < 256; ++v) {
    for (unsigned col = 0; col < 256; ++col) {
      SCOPED_TRACE(testing::Message() << "v " << v << " col " << col);
      const unsigned row = ((v >> 4) * 16 + (col >> 4)) * 256 + (v & 15) * 16 + (col & 15);
      const unsigned column = ((col >> 4) * 16 + (v >> 4)) * 256 + (col & 15) * 16 + (v & 15);
      ASSERT_EQ(tables->row_codes()[v][col], row);
      ASSERT_EQ(tables->col_codes()[v][col], column);
    }
  }
}

TEST(CodeTablesTest, InverseTablesUndoEveryCodeOfAPermutation) {
  auto tables = all_tables_of(shuffled_key(11));
  std::vector<int> row_seen(65536), col_seen(65536);
  for (unsigned v = 0; v < 256; ++v) {
    for (unsigned col = 0; col < 256; ++col) {
      const std::uint16_t row = tables->row_codes()[v][col];
      const std::uint16_t column = tables->col_codes()[v][col];
      ++row_seen[row];
      ++col_seen[column];
      ASSERT_EQ(tables->row_inverse()[row], v);
      ASSERT_EQ(tables->col_inverse()[column], v);
    }
  }
  for (unsigned code = 0; code < 65536; ++code) {
    SCOPED_TRACE(code);
    ASSERT_EQ(row_seen[code], 1);
    ASSERT_EQ(col_seen[code], 1);
  }
}

TEST(CodeTablesTest, AllZeroKeyGivesZeroCodesAndTheLastByteValue) {
  auto tables = all_tables_of(Key{});
  for (unsigned v = 0; v < 256; ++v) {
    for (unsigned col = 0; col < 256; ++col) {
      ASSERT_EQ(tables->row_codes()[v][col], 0);
      ASSERT_EQ(tables->col_codes()[v][col], 0);
    }
  }
  EXPECT_EQ(tables->row_inverse()[0], 255);
  EXPECT_EQ(tables->col_inverse()[0], 255);
  for (unsigned code = 1; code < 65536; ++code) {
    ASSERT_EQ(tables->row_inverse()[code], 0) << code;
    ASSERT_EQ(tables->col_inverse()[code], 0) << code;
  }
}

TEST(CodeTablesTest, RepeatedKeyValuesLeaveTheHighestByteValueInTheInverse) {
  // Entries 0x10 and 0x20 both 0x10: rows 1 and 2 of the matrix start alike, so byte values
  // 0x15 and 0x25 share the row code of choice 0x05, and 0x25 writes it last.
  Key key = identity_key();
  key.k[0x20] = 0x10;
  auto tables = all_tables_of(key);
  EXPECT_EQ(tables->row_codes()[0x15][0x05], 0x1055);
  EXPECT_EQ(tables->row_codes()[0x25][0x05], 0x1055);
  EXPECT_EQ(tables->row_inverse()[0x1055], 0x25);
}

TEST(CodeTablesTest, EachDirectionBuildsTheTablesOfBothDirectionsThatItUses) {
  // The all-zero key is no permutation: its inverses come from the codes by another road.
  for (const Key& key : {shuffled_key(13), Key{}}) {
    SCOPED_TRACE(key.is_permutation() ? "permutation" : "all-zero key");
    const auto both = all_tables_of(key);
    const auto encoding = CodeTables::build(key, CodeTables::Use::Encoding);
    const auto decoding = CodeTables::build(key, CodeTables::Use::Decoding);
    const auto none = CodeTables::build(key, CodeTables::Use::None);
    ASSERT_TRUE(both->has_codes() && both->has_inverses());
    ASSERT_TRUE(encoding->has_codes());
    EXPECT_FALSE(encoding->has_inverses());
    EXPECT_FALSE(decoding->has_codes());
    ASSERT_TRUE(decoding->has_inverses());
    EXPECT_FALSE(none->has_codes() || none->has_inverses());
    EXPECT_EQ(encoding->row_codes(), both->row_codes());
    EXPECT_EQ(encoding->col_codes(), both->col_codes());
    EXPECT_EQ(decoding->row_inverse(), both->row_inverse());
    EXPECT_EQ(decoding->col_inverse(), both->col_inverse());
  }
}

TEST(CodeTablesTest, TablesDependOnTheKeyTableAlone) {
  Key key = shuffled_key(3);
  const auto first = all_tables_of(key);
  key.a = ~key.a;
  key.b ^= 0x1234;
  key.c = 0;
  key.s = 42;
  const auto second = all_tables_of(key);
  EXPECT_EQ(first->row_codes(), second->row_codes());
  EXPECT_EQ(first->col_codes(), second->col_codes());
  EXPECT_EQ(first->row_inverse(), second->row_inverse());
  EXPECT_EQ(first->col_inverse(), second->col_inverse());
}

}  // namespace
}  // namespace jx

#include "jx/context.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace jx {
namespace {

Key identity_key() {
  Key key;
  for (std::size_t i = 0; i < 256; ++i) key.k[i] = static_cast<std::uint8_t>(i);
  return key;
}

// A permutation made the way key files get theirs, from bytes of a seeded generator.
Key shuffled_key(std::uint8_t seed_byte) {
  Rng rng(Rng::Seed{seed_byte, 0x5A, 0xC3});
  std::vector<std::uint8_t> seed(Key::kSeedSize);
  for (auto& byte : seed) byte = static_cast<std::uint8_t>(rng.get());
  return Key::new_from_seed(seed).value();
}

std::unique_ptr<Context> make_context(const Key& key) {
  return std::make_unique<Context>(key, Rng(Rng::Seed{1, 2, 3, 4}));
}

TEST(ContextTest, NewContextCopiesTheKeyAndStartsClear) {
  const Key key = shuffled_key(7);
  const Rng generator(Rng::Seed{9, 8, 7});
  auto context = std::make_unique<Context>(key, generator);
  EXPECT_EQ(context->key, key);
  EXPECT_EQ(context->rng.counter, generator.counter);
  EXPECT_EQ(context->rng.x, generator.x);
  EXPECT_EQ(context->rng.y, generator.y);
  EXPECT_EQ(context->rng.z, generator.z);
  EXPECT_EQ(context->mod_a, 0u);
  EXPECT_EQ(context->mod_b, 0u);
  EXPECT_EQ(context->mod_c, 0u);
  EXPECT_EQ(context->mod_s, 0u);
  EXPECT_FALSE(context->options.partial);
  EXPECT_FALSE(context->options.inflate);
}

TEST(ContextTest, ContextsFromOneKeyShareTablesButNotGenerators) {
  const Key key = shuffled_key(3);
  auto first = std::make_unique<Context>(key);
  auto second = std::make_unique<Context>(key);
  EXPECT_EQ(first->row_codes, second->row_codes);
  EXPECT_EQ(first->col_codes, second->col_codes);
  EXPECT_EQ(first->row_inverse, second->row_inverse);
  EXPECT_EQ(first->col_inverse, second->col_inverse);
  EXPECT_NE(first->rng.get(), second->rng.get());
}

TEST(ContextTest, IdentityTableCodes) {
  auto context = make_context(identity_key());
  // Worked by hand: v = 0x3A, choice 0x5C (j = 5, m = 12).
  EXPECT_EQ(context->row_codes[0x3A][0x5C], 0x35AC);
  EXPECT_EQ(context->col_codes[0x3A][0x5C], 0x53CA);
  EXPECT_EQ(context->row_inverse[0x35AC], 0x3A);
  EXPECT_EQ(context->col_inverse[0x53CA], 0x3A);
  for (unsigned v = 0; v < 256; ++v) {
    for (unsigned col = 0; col < 256; ++col) {
      SCOPED_TRACE(testing::Message() << "v " << v << " col " << col);
      const unsigned row = ((v >> 4) * 16 + (col >> 4)) * 256 + (v & 15) * 16 + (col & 15);
      const unsigned column = ((col >> 4) * 16 + (v >> 4)) * 256 + (col & 15) * 16 + (v & 15);
      ASSERT_EQ(context->row_codes[v][col], row);
      ASSERT_EQ(context->col_codes[v][col], column);
    }
  }
}

TEST(ContextTest, InverseTablesUndoEveryCodeOfAPermutation) {
  auto context = make_context(shuffled_key(11));
  std::vector<int> row_seen(65536), col_seen(65536);
  for (unsigned v = 0; v < 256; ++v) {
    for (unsigned col = 0; col < 256; ++col) {
      const std::uint16_t row = context->row_codes[v][col];
      const std::uint16_t column = context->col_codes[v][col];
      ++row_seen[row];
      ++col_seen[column];
      ASSERT_EQ(context->row_inverse[row], v);
      ASSERT_EQ(context->col_inverse[column], v);
    }
  }
  for (unsigned code = 0; code < 65536; ++code) {
    SCOPED_TRACE(code);
    ASSERT_EQ(row_seen[code], 1);
    ASSERT_EQ(col_seen[code], 1);
  }
}

TEST(ContextTest, AllZeroKeyGivesZeroCodesAndTheLastByteValue) {
  auto context = make_context(Key{});
  for (unsigned v = 0; v < 256; ++v) {
    for (unsigned col = 0; col < 256; ++col) {
      ASSERT_EQ(context->row_codes[v][col], 0);
      ASSERT_EQ(context->col_codes[v][col], 0);
    }
  }
  EXPECT_EQ(context->row_inverse[0], 255);
  EXPECT_EQ(context->col_inverse[0], 255);
  for (unsigned code = 1; code < 65536; ++code) {
    ASSERT_EQ(context->row_inverse[code], 0) << code;
    ASSERT_EQ(context->col_inverse[code], 0) << code;
  }
}

TEST(ContextTest, RepeatedKeyValuesLeaveTheHighestByteValueInTheInverse) {
  // Entries 0x10 and 0x20 both 0x10: rows 1 and 2 of the matrix start alike, so byte values
  // 0x15 and 0x25 share the row code of choice 0x05, and 0x25 writes it last.
  Key key = identity_key();
  key.k[0x20] = 0x10;
  auto context = make_context(key);
  EXPECT_EQ(context->row_codes[0x15][0x05], 0x1055);
  EXPECT_EQ(context->row_codes[0x25][0x05], 0x1055);
  EXPECT_EQ(context->row_inverse[0x1055], 0x25);
}

TEST(ContextTest, SetBits) {
  struct Row {
    std::uint8_t bits;
    bool partial;
    bool inflate;
  };
  const Row rows[] = {{0, false, false}, {1, true, false},  {2, false, true},
                      {3, true, true},   {4, false, false}, {255, true, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.bits));
    Options options;
    options.set_bits(row.bits);
    EXPECT_EQ(options.partial, row.partial);
    EXPECT_EQ(options.inflate, row.inflate);
    EXPECT_EQ(options.bits(), row.bits & 3);
  }
}

TEST(ContextTest, InflateWithAZeroGeneratorOnTheIdentityTable) {
  // Worked by hand: every choice is 0, so byte v becomes the row code hi(v)·16, lo(v)·16,
  // and each of those bytes u the column code hi(u), lo(u): v expands to hi(v) 0 lo(v) 0.
  auto context = std::make_unique<Context>(identity_key(), Rng(Rng::Seed{}));
  std::uint8_t block[256];
  for (unsigned p = 0; p < 256; ++p) block[p] = static_cast<std::uint8_t>(255 - p);
  std::uint8_t expanded[1024];
  context->inflate_4x(block, expanded);
  for (unsigned p = 0; p < 256; ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(expanded[4 * p], block[p] >> 4);
    EXPECT_EQ(expanded[4 * p + 1], 0);
    EXPECT_EQ(expanded[4 * p + 2], block[p] & 15);
    EXPECT_EQ(expanded[4 * p + 3], 0);
  }
  EXPECT_EQ(context->rng.counter, 768u);
}

TEST(ContextTest, InflateDrawsSevenHundredSixtyEightSteps) {
  auto context = make_context(shuffled_key(5));
  Rng expected = context->rng;
  for (int i = 0; i < 768; ++i) expected.get();
  std::uint8_t block[256] = {};
  std::uint8_t expanded[1024];
  context->inflate_4x(block, expanded);
  EXPECT_EQ(context->rng.counter, expected.counter);
  EXPECT_EQ(context->rng.x, expected.x);
  EXPECT_EQ(context->rng.y, expected.y);
  EXPECT_EQ(context->rng.z, expected.z);
}

}  // namespace
}  // namespace jx

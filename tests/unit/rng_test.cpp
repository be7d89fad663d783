#include "jx/rng.h"

#include <gtest/gtest.h>

namespace jx {
namespace {

Rng with_words(std::uint64_t counter, std::uint64_t x, std::uint64_t y, std::uint64_t z) {
  Rng rng(Rng::Seed{});
  rng.counter = counter;
  rng.x = x;
  rng.y = y;
  rng.z = z;
  return rng;
}

TEST(RngTest, SeedBytesAreFourBigEndianWords) {
  Rng::Seed seed;
  for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(i);
  Rng rng(seed);
  EXPECT_EQ(rng.x, 0x0001020304050607u);
  EXPECT_EQ(rng.y, 0x08090A0B0C0D0E0Fu);
  EXPECT_EQ(rng.z, 0x1011121314151617u);
  EXPECT_EQ(rng.counter, 0x18191A1B1C1D1E1Fu);
  EXPECT_EQ(rng.get(), 0x0001020304050607u ^ 0x08090A0B0C0D0E0Fu ^ 0x1011121314151617u);
}

// Expected words worked by hand from the stepping rule.
TEST(RngTest, StepsAtTheCounterEdges) {
  struct Row {
    const char* name;
    Rng before;
    std::uint64_t out;
    Rng after;
  };
  const Row rows[] = {
      {"crossing at 0x400", with_words(0x3FF, 0x1111, 0x2222, 0x3333), 0,
       with_words(0x400, 0x1999800, 0x4444000, 0x22220000)},
      {"wrap to 0 crosses and rotates", with_words(~0ull, 0x1, 0x2, 0x4), 0x7,
       with_words(0, 0x4 << 11, 0x2 << 13, (0x1ull << 17) + 0x7)},
      {"multiple of 64 rotates y only", with_words(0x3F, 0x1, 0x2, 0x4), 0x7,
       with_words(0x40, 0x1 << 11, 0x2 << 13, (0x4ull << 17) + 0x7)},
      {"plain step", with_words(0x10, 0x8000000000000000, 0x2, 0x4), 0x8000000000000006,
       with_words(0x11, 0x400, 0x2, (0x4ull << 17) + 0x8000000000000006)},
  };
  for (Row row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.before.get(), row.out);
    EXPECT_EQ(row.before.counter, row.after.counter);
    EXPECT_EQ(row.before.x, row.after.x);
    EXPECT_EQ(row.before.y, row.after.y);
    EXPECT_EQ(row.before.z, row.after.z);
  }
}

TEST(RngTest, ZeroSeedYieldsZeroForEver) {
  Rng rng(Rng::Seed{});
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(rng.get(), 0u);
  EXPECT_EQ(rng.counter, 5000u);
}

TEST(RngTest, EqualSeedsGiveEqualSequences) {
  Rng::Seed seed;
  for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(i * 37 + 11);
  Rng first(seed), second(seed);
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(first.get(), second.get());
}

TEST(RngTest, OperatingSystemSeedsDiffer) {
  auto seeded_first = Rng::from_os(), seeded_second = Rng::from_os();
  ASSERT_TRUE(seeded_first.ok());
  ASSERT_TRUE(seeded_second.ok());
  const Rng& first = seeded_first.value();
  const Rng& second = seeded_second.value();
  EXPECT_FALSE(first.x == second.x && first.y == second.y && first.z == second.z &&
               first.counter == second.counter);
}

}  // namespace
}  // namespace jx

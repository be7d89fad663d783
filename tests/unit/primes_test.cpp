#include "jx/primes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace jx {
namespace {

// The first 26 primes, from a table of primes.
const std::vector<std::uint32_t> kFirstPrimes = {2,  3,  5,  7,  11, 13, 17, 19, 23,
                                                 29, 31, 37, 41, 43, 47, 53, 59, 61,
                                                 67, 71, 73, 79, 83, 89, 97, 101};

TEST(PrimesTest, StartsWithTheSmallPrimes) {
  Primes primes;
  for (std::size_t i = 0; i < kFirstPrimes.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(primes.at(i), kFirstPrimes[i]);
  }
}

TEST(PrimesTest, ExtendsOnlyAsFarAsAsked) {
  Primes primes;
  EXPECT_EQ(primes.size(), 2u);
  EXPECT_EQ(primes.at(1), 3u);
  EXPECT_EQ(primes.size(), 2u);
  EXPECT_EQ(primes.at(9), 29u);
  EXPECT_EQ(primes.size(), 10u);
  EXPECT_EQ(primes.at(4), 11u);
  EXPECT_EQ(primes.size(), 10u);
}

// A 288-byte digest draws on the first 4608 primes; the 4608th prime is 44269.
TEST(PrimesTest, SquareRootBoundGivesTheSameList) {
  Primes primes;
  const std::vector<std::uint32_t> fast = first_primes(4608);
  ASSERT_EQ(fast.size(), 4608u);
  for (std::size_t i = 0; i < fast.size(); ++i) {
    if (primes.at(i) != fast[i]) {
      FAIL() << "entry " << i << ": " << primes.at(i) << " vs " << fast[i];
    }
  }
  EXPECT_EQ(primes.at(4607), 44269u);
}

TEST(PrimesTest, FirstPrimesOfFewEntries) {
  for (std::size_t count : {0u, 1u, 2u, 3u, 26u}) {
    SCOPED_TRACE(count);
    std::vector<std::uint32_t> expected = kFirstPrimes;
    expected.resize(count);
    EXPECT_EQ(first_primes(count), expected);
  }
}

}  // namespace
}  // namespace jx

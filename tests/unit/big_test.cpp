#include "jx/big.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <vector>

namespace jx {
namespace {

Big make_big(const std::vector<std::uint64_t>& slots) {
  Big number(slots.size());
  number.limbs = slots;
  return number;
}

// Rotates a number given as 32-bit limbs left by r bits, one bit at a time.
std::vector<std::uint64_t> rotate_bits(const std::vector<std::uint64_t>& limbs, std::size_t r) {
  const std::size_t bits = 32 * limbs.size();
  std::vector<std::uint64_t> out(limbs.size(), 0);
  for (std::size_t m = 0; m < bits; ++m) {
    const std::uint64_t bit = (limbs[m / 32] >> (m % 32)) & 1;
    const std::size_t to = (m + r) % bits;
    out[to / 32] |= bit << (to % 32);
  }
  return out;
}

// Worked by hand from the slot values.
TEST(BigTest, CarryNormalisesAndDropsOverflowAboveTheTop) {
  struct Case {
    const char* name;
    std::vector<std::uint64_t> slots;
    std::vector<std::uint64_t> expected;
  };
  const Case cases[] = {
      {"carry into a full middle limb",
       {0x1FFFFFFFF, 0x2, 0xFFFFFFFF},
       {0xFFFFFFFF, 0x3, 0xFFFFFFFF}},
      {"carry into the top limb, overflow dropped",
       {0x123456789ABC, 0xFFFFFFFF},
       {0x56789ABC, 0x1233}},
      {"single slot", {0x500000001}, {0x1}},
      {"one carry runs up a chain of full limbs",
       {0x100000000, 0xFFFFFFFF, 0xFFFFFFFF, 0x5},
       {0x0, 0x0, 0x0, 0x6}},
      {"a chain that leaves the top", {0xFFFFFFFF00000001, 0xFFFFFFFF}, {0x1, 0xFFFFFFFE}},
      {"already normal", {0x1, 0xFFFFFFFF}, {0x1, 0xFFFFFFFF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Big number = make_big(c.slots);
    number.carry();
    EXPECT_EQ(number.limbs, c.expected);
  }
}

// Worked by hand from the limb values.
TEST(BigTest, ShiftRotatesTheWholeNumber) {
  struct Case {
    const char* name;
    std::vector<std::uint64_t> limbs;
    std::size_t r;
    std::vector<std::uint64_t> expected;
  };
  const Case cases[] = {
      {"one limb by 31", {0x1}, 31, {0x80000000}},
      {"one limb by 45 is a rotation by 13", {0x12345678}, 45, {0x8ACF0246}},
      {"whole limbs only",
       {0x11111111, 0x22222222, 0x33333333},
       64,
       {0x22222222, 0x33333333, 0x11111111}},
      {"by the width",
       {0x11111111, 0x22222222, 0x33333333},
       96,
       {0x11111111, 0x22222222, 0x33333333}},
      {"by twice the width",
       {0x11111111, 0x22222222, 0x33333333},
       192,
       {0x11111111, 0x22222222, 0x33333333}},
      {"by 0", {0xDEADBEEF, 0x1}, 0, {0xDEADBEEF, 0x1}},
      {"a limb and 8 bits, the top wrapping into limb 0",
       {0x11223344, 0x55667788, 0xAABBCCDD},
       40,
       {0xBBCCDD55, 0x223344AA, 0x66778811}},
      {"31 bits with wrap-around", {0x00000003, 0x80000000}, 31, {0xC0000000, 0x1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Big number = make_big(c.limbs);
    number.shift(c.r);
    EXPECT_EQ(number.limbs, c.expected);
  }
}

TEST(BigTest, ShiftMatchesBitByBitRotation) {
  std::mt19937_64 random(7);
  for (std::size_t n : {1u, 2u, 3u, 5u, 72u}) {
    const std::size_t width = 32 * n;
    for (std::size_t r : {std::size_t{1}, std::size_t{31}, std::size_t{32}, std::size_t{33},
                          std::size_t{63}, width - 1, width + 31, 3 * width + 17}) {
      SCOPED_TRACE(testing::Message() << n << " limbs, r = " << r);
      std::vector<std::uint64_t> limbs(n);
      for (auto& limb : limbs) limb = random() & 0xFFFFFFFF;
      Big number = make_big(limbs);
      number.shift(r);
      EXPECT_EQ(number.limbs, rotate_bits(limbs, r));
    }
  }
}

// Under AddressSanitizer, any access through an empty number's storage would be reported.
TEST(BigTest, NumberWithoutLimbsIsLeftAlone) {
  Big number(0);
  number.carry();
  number.shift(31);
  number.shift(64);
  EXPECT_TRUE(number.limbs.empty());
}

}  // namespace
}  // namespace jx

#include "jx/fast_hash.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <vector>

#include "jx/big.h"
#include "jx/hash.h"

namespace jx {
namespace {

std::vector<std::uint32_t> limbs_of(const Hash& hash) {
  return {hash.value().limbs.begin(), hash.value().limbs.end()};
}

// Sizes around limb edges, one limb, two limbs, and the size the library uses.
const std::size_t kSizes[] = {1, 2, 3, 4, 5, 7, 8, 9, 20, 33, 288, 289};

class FastHashTest : public testing::Test {
 protected:
  std::uint32_t word() {
    switch (random_() % 8) {
      case 0:
        return 0;
      case 1:
        return 0xFFFFFFFF;
      default:
        return static_cast<std::uint32_t>(random_());
    }
  }

  static void expect_same(const FastHash& fast, const Hash& direct) {
    EXPECT_EQ(fast.count(), direct.count());
    EXPECT_EQ(fast.value(), limbs_of(direct));
  }

  std::mt19937 random_{2024};
};

TEST_F(FastHashTest, FollowsTheDirectFormWordByWord) {
  for (std::size_t size : kSizes) {
    SCOPED_TRACE(testing::Message() << "size " << size);
    FastHash fast(size);
    Hash direct(size);
    const std::size_t length = size < 100 ? 400 : 120;
    for (std::size_t i = 1; i <= length; ++i) {
      const std::uint32_t w = word();
      fast.digest(w);
      direct.digest(w);
      ASSERT_EQ(fast.value(), limbs_of(direct)) << "after word " << i;
      const bool cheap_digest = size < 100 && i % 7 == 0;
      if (cheap_digest || (size >= 100 && i % 60 == 0)) {
        ASSERT_EQ(fast.get(), direct.get()) << "after word " << i;
      }
    }
    EXPECT_EQ(fast.count(), length);
  }
}

// Builds states that, some steps into the next word, put a run of one bits right above the
// step's term, so its carry travels far round the rotated buffer and often out of the top.
// Each step is undone on a copy: subtract the term, rotate right by 31.
class LongCarryTest : public FastHashTest {
 protected:
  static std::vector<std::uint32_t> terms(std::uint32_t w, std::uint64_t count, std::size_t n) {
    std::vector<std::uint32_t> out;
    std::uint32_t a = w + static_cast<std::uint32_t>(count);
    for (std::size_t i = 0; i < n; ++i) {
      a += static_cast<std::uint32_t>(i);
      out.push_back(std::rotl(a, static_cast<int>(i % 32)));
    }
    return out;
  }

  static void undo_step(Big& state, std::uint32_t term) {
    std::uint64_t borrow = term;
    for (auto& limb : state.limbs) {
      const std::uint64_t before = limb;
      limb = (before - borrow) & 0xFFFFFFFF;
      borrow = before < borrow ? 1 : 0;
    }
    state.shift(32 * state.limbs.size() - 31);
  }

  // A state of ones, with one limb of zeros or one zero bit in some trials, so that carries
  // stop at different distances.
  Big ones_with_a_gap(std::size_t n) {
    Big state(n);
    for (auto& limb : state.limbs) limb = 0xFFFFFFFF;
    const std::size_t gap = random_() % (32 * n);
    switch (random_() % 3) {
      case 0:
        state.limbs[gap / 32] = 0;
        break;
      case 1:
        state.limbs[gap / 32] &= ~(std::uint64_t{1} << (gap % 32));
        break;
      default:
        break;
    }
    return state;
  }
};

TEST_F(LongCarryTest, CarriesRoundTheBufferAndOutOfTheTop) {
  for (std::size_t size : kSizes) {
    SCOPED_TRACE(testing::Message() << "size " << size);
    const std::size_t n = (size + 3) / 4;
    const int trials = size < 100 ? 300 : 40;
    for (int trial = 0; trial < trials; ++trial) {
      const std::uint32_t w = word();
      const std::uint64_t count = trial % 5 == 0 ? 0xFFFFFFFFu + std::uint64_t(trial) : random_();
      const std::vector<std::uint32_t> step_terms = terms(w, count + 1, n);
      // The state right before the add of step `at`, taken back to the start of the word.
      const std::size_t at = random_() % n;
      Big state = ones_with_a_gap(n);
      state.shift(32 * n - 31);
      for (std::size_t i = at; i-- > 0;) undo_step(state, step_terms[i]);
      const std::vector<std::uint32_t> start(state.limbs.begin(), state.limbs.end());

      FastHash fast = FastHash::new_from_state(size, start, count);
      Hash direct = Hash::new_from_state(size, start, count);
      fast.digest(w);
      direct.digest(w);
      ASSERT_NO_FATAL_FAILURE(expect_same(fast, direct)) << "trial " << trial << ", step " << at;
      fast.digest(~w);
      direct.digest(~w);
      ASSERT_NO_FATAL_FAILURE(expect_same(fast, direct)) << "trial " << trial << ", second word";
    }
  }
}

// A file's bytes, four to a big-endian word, the last group filled with zero bytes.
TEST_F(FastHashTest, BytesAreReadAsBigEndianWordsWithTheLastGroupZeroFilled) {
  std::vector<std::uint8_t> bytes(300);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random_());
  for (std::size_t size : {std::size_t{5}, std::size_t{288}}) {
    Hash whole_words(size);  // the words of the first length / 4 full groups
    for (std::size_t length = 1; length <= bytes.size(); ++length) {
      SCOPED_TRACE(testing::Message() << "size " << size << ", " << length << " bytes");
      const std::size_t at = length - length % 4;
      if (length % 4 == 0) {
        whole_words.digest(std::uint32_t{bytes[at - 4]} << 24 | std::uint32_t{bytes[at - 3]} << 16 |
                           std::uint32_t{bytes[at - 2]} << 8 | bytes[at - 1]);
      }
      Hash direct = whole_words;
      std::uint32_t last = 0;
      for (std::size_t k = at; k < length; ++k) {
        last |= std::uint32_t{bytes[k]} << (24 - 8 * (k - at));
      }
      if (length % 4 != 0) direct.digest(last);

      FastHash fast(size);
      fast.digest_bytes(std::span(bytes).first(length));
      ASSERT_NO_FATAL_FAILURE(expect_same(fast, direct));
    }
  }
}

TEST_F(FastHashTest, ShortGroupAndItsZeroPaddingAreOneWord) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint32_t> words;
  };
  const Case cases[] = {
      {"no bytes", {}, {}},
      {"two bytes", {0x41, 0x42}, {0x41420000}},
      {"five bytes", {1, 2, 3, 4, 5}, {0x01020304, 0x05000000}},
      {"five bytes padded to eight", {1, 2, 3, 4, 5, 0, 0, 0}, {0x01020304, 0x05000000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FastHash from_bytes(20);
    from_bytes.digest_bytes(c.bytes);
    FastHash from_words(20);
    for (std::uint32_t w : c.words) from_words.digest(w);
    EXPECT_EQ(from_bytes.count(), c.words.size());
    EXPECT_EQ(from_bytes.value(), from_words.value());
  }
}

}  // namespace
}  // namespace jx

#include "jx/hash.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "bytes.h"
#include "jx/big.h"
#include "reference_hash.h"

namespace jx {
namespace {

std::vector<std::uint32_t> limbs_of(const ReferenceHash& hash) {
  return {hash.value().limbs.begin(), hash.value().limbs.end()};
}
std::vector<std::uint32_t> limbs_of(const Hash& hash) {
  return hash.value();
}

// Digests as their vectors show them: hexadecimal in capitals.
std::string hex(const std::vector<std::uint8_t>& bytes) {
  return jxtest::hex(bytes, jxtest::HexCase::upper);
}

struct Vector {
  const char* name;
  std::size_t size;
  std::vector<std::uint32_t> words;
  std::vector<std::uint32_t> state;  // empty where only the digest is checked
  std::string digest;
};

// Computed with Python integers by tests/tools/hash_vectors.py, which rotates and adds on the
// state as one number and multiplies the primes as one number.
const Vector kVectors[] = {
    {"size 4, one word", 4, {0x61}, {0x80000062}, "D8A408DE"},
    {"size 5, last limb cut to its top byte", 5, {1, 2, 3}, {0x90000010, 0xE4000003}, "991B6E9A3A"},
    {"size 1", 1, {7}, {0x80000008}, "33"},
    {"size 3", 3, {1, 2}, {0x40000005}, "7260F5"},
    {"size 20, two words",
     20,
     {0x61, 0x62},
     {0x00000716, 0x280001B5, 0x0600006A, 0x7100001A, 0x00400006},
     "830817FEBD4A64617CDE624A6228FE5FB3171D37"},
    {"size 8, the added term wraps",
     8,
     {0xFFFFFFFF, 0xFFFFFFFE},
     {0x2, 0x90000000},
     "7041AF3A6A367240"},
    {"size 9, no word", 9, {}, {1, 0, 0}, "0A792F29F0F0A26AAD"},
    {"size 0 keeps one limb", 0, {5, 6}, {0x4000000B}, ""},
    {"size 288, no word",
     288,
     {},
     {},
     "104D09A78FA7AABAA5D8E3271B0FC38C7539548EB45BD5547CF1FB54B59F1C09"
     "F93B28633B2F537C2CEA8BC106D3795E711DAC375B47591E94771AEBF5CEACEB"
     "FFB0689151079BEB8CB673D92C81989555F9DFF273FCD5CD4F36F8186093C2C2"
     "B30479430E8FDF55A5457CB69154306A931B53198434531AD5BF7640E34DF77D"
     "8246A72F14D6999D344754C1C0BF8B73755A10D83240BB0537FCDB837DDBF92E"
     "6BB937D8911E51FFB4B6A6287C4F789C64A863221CE370834677E38A62F6E967"
     "051FD7B12E87CDF371946BC156AECADD1EADA3D693396CD64A23B49C415A5019"
     "FF07529AB756B03FAD87EF8F01304633DB1CDBF0C62227F9CFF62727E3FE5B5A"
     "E17612BB55259D5FC83FA7468F68D09EA5C135A3F93442F3A6FD6CB5EF750B24"},
    {"size 288, three words",
     288,
     {0x61, 0x62, 0x63},
     {},
     "3B01ED423D2BC0C7F22AAEAB01BA70147BB89E5A00EB6A9A0554C75ADEF31172"
     "A7B883D87132986A45E6805590C86FA95835D8743267616A8C0C65387CF65F51"
     "7F5A6951B19C2C876891D44EC8365702ADC8AF86A1CAF1EE8246490117D88DA2"
     "436F517E04D977BD128E64978014BBA0255F3E45EDE48BB105C1E20F1EE1F8FA"
     "8099AB74DF4F477971D5A1C5AB477A12D0A542A1FFB93B2CC15FB2A5F1FA4462"
     "611D82E7E173628DF5CC574FA446B8711DE0A08989E0F5C470AC4B7B51505161"
     "AEBE512850D522A5157B8FA8B83DDE09CBFF353136927486C2DA125B60B39C49"
     "720CC03CBC74E328D1C82EDF0CC7A9549D313B27B60D3762C83DCA41F1885CE5"
     "42E1D50991670E9C7ADA31795BE46D249692A87857221617B51F804CCB62D0BF"},
};

// The hash and its direct reference form are held to the same digests.
template <class H>
class HashTest : public testing::Test {};
using HashTypes = testing::Types<ReferenceHash, Hash>;
TYPED_TEST_SUITE(HashTest, HashTypes);

TYPED_TEST(HashTest, KnownStatesAndDigests) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(v.name);
    TypeParam hash(v.size);
    for (std::uint32_t word : v.words) hash.digest(word);
    EXPECT_EQ(hash.count(), v.words.size());
    if (!v.state.empty()) {
      EXPECT_EQ(limbs_of(hash), v.state);
    }
    EXPECT_EQ(hex(hash.get()), v.digest);
  }
}

TYPED_TEST(HashTest, GetLeavesTheStateAsItWas) {
  TypeParam hash(20);
  hash.digest(0x61);
  const std::vector<std::uint32_t> before = limbs_of(hash);
  const std::vector<std::uint8_t> first = hash.get();
  EXPECT_EQ(hash.get(), first);
  EXPECT_EQ(limbs_of(hash), before);
  EXPECT_EQ(hash.count(), 1u);

  hash.digest(0x62);
  EXPECT_EQ(hex(hash.get()), "830817FEBD4A64617CDE624A6228FE5FB3171D37");
}

TYPED_TEST(HashTest, SizeZeroDigestsToNothing) {
  TypeParam hash(0);
  EXPECT_EQ(hash.size(), 0u);
  EXPECT_TRUE(hash.get().empty());
  EXPECT_EQ(limbs_of(hash), std::vector<std::uint32_t>{1});
  for (std::uint32_t word = 0; word < 100; ++word) hash.digest(word * 0x9E3779B9u);
  EXPECT_EQ(hash.count(), 100u);
  EXPECT_EQ(limbs_of(hash).size(), 1u);
  EXPECT_TRUE(hash.get().empty());
}

TYPED_TEST(HashTest, ResumesFromASavedState) {
  TypeParam whole(20);
  TypeParam first_half(20);
  for (std::uint32_t word : {0x61u, 0x62u, 0x63u}) {
    whole.digest(word);
    first_half.digest(word);
  }
  const std::vector<std::uint32_t> saved = limbs_of(first_half);
  TypeParam resumed = TypeParam::new_from_state(20, saved, first_half.count());
  EXPECT_EQ(limbs_of(resumed), saved);
  for (std::uint32_t word : {0x64u, 0x65u}) {
    whole.digest(word);
    resumed.digest(word);
  }
  EXPECT_EQ(limbs_of(resumed), limbs_of(whole));
  EXPECT_EQ(resumed.count(), 5u);
  EXPECT_EQ(resumed.get(), whole.get());
}

TYPED_TEST(HashTest, ResumedStateIsCutOrPaddedToTheWidth) {
  const std::vector<std::uint32_t> state = {7, 8, 9};
  EXPECT_EQ(limbs_of(TypeParam::new_from_state(5, state, 0)), (std::vector<std::uint32_t>{7, 8}));
  EXPECT_EQ(limbs_of(TypeParam::new_from_state(16, state, 0)),
            (std::vector<std::uint32_t>{7, 8, 9, 0}));
}

// Sizes around limb edges, one limb, two limbs, and the size the library uses.
const std::size_t kSizes[] = {1, 2, 3, 4, 5, 7, 8, 9, 20, 33, 288, 289};

class HashAgainstReferenceTest : public testing::Test {
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

  static void expect_same(const Hash& fast, const ReferenceHash& direct) {
    EXPECT_EQ(fast.count(), direct.count());
    EXPECT_EQ(fast.value(), limbs_of(direct));
  }

  std::mt19937 random_{2024};
};

TEST_F(HashAgainstReferenceTest, FollowsTheDirectFormWordByWord) {
  for (std::size_t size : kSizes) {
    SCOPED_TRACE(testing::Message() << "size " << size);
    Hash fast(size);
    ReferenceHash direct(size);
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
class LongCarryTest : public HashAgainstReferenceTest {
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

      Hash fast = Hash::new_from_state(size, start, count);
      ReferenceHash direct = ReferenceHash::new_from_state(size, start, count);
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
TEST_F(HashAgainstReferenceTest, BytesAreReadAsBigEndianWordsWithTheLastGroupZeroFilled) {
  std::vector<std::uint8_t> bytes(300);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random_());
  for (std::size_t size : {std::size_t{5}, std::size_t{288}}) {
    ReferenceHash whole_words(size);  // the words of the first length / 4 full groups
    for (std::size_t length = 1; length <= bytes.size(); ++length) {
      SCOPED_TRACE(testing::Message() << "size " << size << ", " << length << " bytes");
      const std::size_t at = length - length % 4;
      if (length % 4 == 0) {
        whole_words.digest(std::uint32_t{bytes[at - 4]} << 24 | std::uint32_t{bytes[at - 3]} << 16 |
                           std::uint32_t{bytes[at - 2]} << 8 | bytes[at - 1]);
      }
      ReferenceHash direct = whole_words;
      std::uint32_t last = 0;
      for (std::size_t k = at; k < length; ++k) {
        last |= std::uint32_t{bytes[k]} << (24 - 8 * (k - at));
      }
      if (length % 4 != 0) direct.digest(last);

      Hash fast(size);
      fast.digest_bytes(std::span(bytes).first(length));
      ASSERT_NO_FATAL_FAILURE(expect_same(fast, direct));
    }
  }
}

TEST_F(HashAgainstReferenceTest, ShortGroupAndItsZeroPaddingAreOneWord) {
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
    Hash from_bytes(20);
    from_bytes.digest_bytes(c.bytes);
    Hash from_words(20);
    for (std::uint32_t w : c.words) from_words.digest(w);
    EXPECT_EQ(from_bytes.count(), c.words.size());
    EXPECT_EQ(from_bytes.value(), from_words.value());
  }
}

}  // namespace
}  // namespace jx

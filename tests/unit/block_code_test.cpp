#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "../../jx/src/block_plan.h"
#include "codec_cases.h"
#include "jx/context.h"
#include "reference_encoder.h"

namespace jx {
namespace {

// The block code on its own, against the reference and against the generator.

Key random_key(std::mt19937_64& random) {
  Key key;
  for (std::size_t i = 0; i < 256; ++i) key.k[i] = static_cast<std::uint8_t>(i);
  std::shuffle(key.k.begin(), key.k.end(), random);
  key.a = random();
  key.b = random();
  key.c = random();
  key.s = random();
  return key;
}

Bytes random_bytes(std::mt19937_64& random, std::size_t size) {
  Bytes bytes(size);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

ByteTable positions_of(const Key& key) {
  ByteTable position;
  for (std::size_t i = 0; i < 256; ++i) position[key.k[i]] = static_cast<std::uint8_t>(i);
  return position;
}

TEST(BlockCodeTest, PadsFollowTheStepByStepRule) {
  std::mt19937_64 random(1);
  on_each_code_path([&] {
    for (int round = 0; round < 100; ++round) {
      const Key key = random_key(random);
      // t = s + block: 0, no rotation of c, rotations by 1 and 63, the top bit, the wrap.
      for (std::uint64_t t :
           {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{63}, std::uint64_t{64},
            std::uint64_t{1} << 63, ~std::uint64_t{0}, random(), random() | 63}) {
        SCOPED_TRACE(testing::Message() << "round " << round << " t " << t);
        const std::uint64_t block = t - key.s;
        const ReferenceBlock expected = reference_block(key, true, block);
        BlockPlan plan;
        plan_block(key, true, block, plan);
        ASSERT_TRUE(std::equal(plan.pad.begin(), plan.pad.end(), expected.pad));
        EXPECT_EQ(plan.length, expected.length);
        plan_block(key, false, block, plan);
        EXPECT_EQ(plan.length, 256u);
      }
    }
  });
}

TEST(BlockCodeTest, ScrambleGathersThroughTheShuffledOrder) {
  std::mt19937_64 random(2);
  on_each_code_path([&] {
    for (int round = 0; round < 200; ++round) {
      Key key = random_key(random);
      const char* table = "a permutation";
      if (round % 4 == 1) {
        key.k.fill(0);
        table = "all zero";
      } else if (round % 4 == 2) {
        key.k[random() % 256] = key.k[random() % 256];
        table = "a repeated value";
      }
      SCOPED_TRACE(testing::Message() << "round " << round << " with " << table);
      const std::uint64_t block = random();
      const ReferenceBlock reference = reference_block(key, false, block);
      const Bytes in = random_bytes(random, 256);
      Bytes expected(256);
      for (std::size_t p = 0; p < 256; ++p) {
        expected[p] = static_cast<std::uint8_t>(in[reference.order[p]] ^ reference.pad[p]);
      }
      BlockPlan plan;
      plan_block(key, false, block, plan);
      Bytes out(256);
      scramble(plan, key.k, in.data(), out.data());
      ASSERT_EQ(out, expected);
      if (!key.is_permutation()) continue;
      Bytes back(256);
      unscramble(plan, positions_of(key), out.data(), back.data());
      ASSERT_EQ(back, in);
    }
  });
}

TEST(BlockCodeTest, ContractReadsCodesAsTheInverseTablesDo) {
  std::mt19937_64 random(3);
  const Key key = random_key(random);
  const ByteTable position = positions_of(key);
  auto context = std::make_unique<Context>(key, kSeeded);
  on_each_code_path([&] {
    for (int round = 0; round < 100; ++round) {
      SCOPED_TRACE(round);
      const Bytes block = random_bytes(random, 256);
      Bytes expanded(1024);
      context->inflate_4x(block.data(), expanded.data());
      Bytes back(256);
      contract(*context, position, expanded.data(), back.data());
      ASSERT_EQ(back, block);

      // Bytes that no encoder wrote read the same way.
      const Bytes codes = random_bytes(random, 1024);
      contract(*context, position, codes.data(), back.data());
      for (std::size_t p = 0; p < 256; ++p) {
        const auto& row_inverse = context->tables->row_inverse();
        const auto& col_inverse = context->tables->col_inverse();
        const std::uint8_t high = col_inverse[codes[4 * p] * 256u + codes[4 * p + 1]];
        const std::uint8_t low = col_inverse[codes[4 * p + 2] * 256u + codes[4 * p + 3]];
        ASSERT_EQ(back[p], row_inverse[high * 256u + low]) << p;
      }
    }
  });
}

// What inflating a block writes, straight from the code tables: the row code of each block
// byte under choice 255 - p, then the column code of each of those bytes under 767 - q.
Bytes expand_by_tables(const CodeTables& tables, const Bytes& block, const Bytes& choices) {
  Bytes first_pass(512);
  Bytes expanded(1024);
  const auto put = [](std::uint16_t code, std::uint8_t* at) {
    at[0] = static_cast<std::uint8_t>(code >> 8);
    at[1] = static_cast<std::uint8_t>(code);
  };
  for (std::size_t p = 0; p < 256; ++p) {
    put(tables.row_codes()[block[p]][choices[255 - p]], &first_pass[2 * p]);
  }
  for (std::size_t q = 0; q < 512; ++q) {
    put(tables.col_codes()[first_pass[q]][choices[767 - q]], &expanded[2 * q]);
  }
  return expanded;
}

TEST(BlockCodeTest, ExpandWritesTheCodesOfTheDrawnChoices) {
  std::mt19937_64 random(4);
  on_each_code_path([&] {
    for (int round = 0; round < 60; ++round) {
      Key key = random_key(random);
      const char* table = "a permutation";
      if (round % 3 == 1) {
        key.k.fill(0x5A);
        table = "one value";
      } else if (round % 3 == 2) {
        key.k[random() % 256] = key.k[random() % 256];
        table = "a repeated value";
      }
      SCOPED_TRACE(testing::Message() << "round " << round << " with " << table);
      const auto tables = CodeTables::build(key, CodeTables::Use::Encoding);
      const Bytes block = random_bytes(random, 256);
      const Bytes choices = random_bytes(random, 768);
      Bytes expanded(1024);
      expand(*tables, block.data(), choices.data(), expanded.data());
      ASSERT_EQ(expanded, expand_by_tables(*tables, block, choices));

      // A stream's context draws the 768 choices from its generator, and no more.
      auto context = std::make_unique<Context>(key, kSeeded, tables);
      Rng drawing = context->rng;
      Bytes drawn(768);
      for (auto& choice : drawn) choice = static_cast<std::uint8_t>(drawing.get());
      context->inflate_4x(block.data(), expanded.data());
      ASSERT_EQ(expanded, expand_by_tables(*tables, block, drawn));
      EXPECT_EQ(context->rng.get(), drawing.get());
    }
  });
}

TEST(BlockCodeTest, StepsInRunsFollowTheGenerator) {
  // Counters just short of multiples of 64 and 1024, and of the wrap to 0.
  const std::uint64_t counters[] = {
      0, 1, 62, 63, 64, 0x3FE, 0x3FF, 0x400, 0x7C0, ~std::uint64_t{0x3F}, ~std::uint64_t{1}};
  const std::size_t counts[] = {0, 1, 2, 63, 64, 65, 768, 2049};
  for (std::uint64_t counter : counters) {
    for (std::size_t count : counts) {
      SCOPED_TRACE(testing::Message() << "counter " << counter << " count " << count);
      Rng expected = kSeeded;
      expected.counter = counter;
      Rng stepped = expected;
      std::vector<std::uint64_t> wanted, got;
      for (std::size_t i = 0; i < count; ++i) wanted.push_back(expected.get());
      for_each_step(stepped, count, [&](std::uint64_t out) { got.push_back(out); });
      ASSERT_EQ(got, wanted);
      EXPECT_EQ(stepped.counter, expected.counter);
      EXPECT_EQ(stepped.x, expected.x);
      EXPECT_EQ(stepped.y, expected.y);
      EXPECT_EQ(stepped.z, expected.z);
    }
  }
}

}  // namespace
}  // namespace jx

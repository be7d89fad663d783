#include "jx/context.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "jx/file.h"
#include "keys.h"
#include "memory_file.h"
#include "scratch.h"

namespace jx {
namespace {

using jxtest::contents_of;
using jxtest::identity_key;
using jxtest::memory_file;
using jxtest::shuffled_key;

const Rng kSeeded(Rng::Seed{1, 2, 3, 4});

std::unique_ptr<Context> make_context(const Key& key) {
  return std::make_unique<Context>(key, kSeeded);
}

using Bytes = std::vector<std::uint8_t>;

Bytes sample(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + i / 7);
  return bytes;
}

std::string outcome(const Status& status) {
  if (status) return "ok";
  return std::string(kind_name(status.error().kind())) + ": " + status.error().message();
}

// A stream of `input` written by `context`.
Bytes encoded_by(Context& context, const Bytes& input) {
  File in = memory_file(input), out = memory_file();
  EXPECT_EQ(outcome(context.encode_stream(in, out)), "ok");
  return contents_of(out);
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

TEST(ContextTest, ContextsOfARunShareTheTablesButNotTheGenerators) {
  const Key key = shuffled_key(3);
  const auto tables = CodeTables::build(key, CodeTables::Use::Encoding);
  Context first(key, Rng::from_os().value(), tables);
  Context second(key, Rng::from_os().value(), tables);
  EXPECT_EQ(first.tables, second.tables);
  EXPECT_NE(first.rng.get(), second.rng.get());
}

TEST(ContextTest, AContextOnItsOwnBuildsAllFourTables) {
  const Key key = shuffled_key(4);
  const auto built = make_context(key)->tables;
  const auto expected = CodeTables::build(key, CodeTables::Use::Both);
  ASSERT_TRUE(built->has_codes() && built->has_inverses());
  EXPECT_EQ(built->row_codes(), expected->row_codes());
  EXPECT_EQ(built->col_codes(), expected->col_codes());
  EXPECT_EQ(built->row_inverse(), expected->row_inverse());
  EXPECT_EQ(built->col_inverse(), expected->col_inverse());
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

TEST(ContextTest, SharedTablesAndBuffersWriteTheStreamsOfAContextWithItsOwn) {
  const Key key = shuffled_key(21);
  const auto encoding = CodeTables::build(key, CodeTables::Use::Encoding);
  const auto decoding = CodeTables::build(key, CodeTables::Use::Decoding);
  const auto buffers = std::make_shared<StreamBuffers>();
  // Sizes around a block, and past a chunk so that the lent buffers turn over.
  for (std::size_t size : {0u, 1u, 255u, 700u, 300000u}) {
    for (int bits = 0; bits < 4; ++bits) {
      SCOPED_TRACE(testing::Message() << "size " << size << " options " << bits);
      const Bytes input = sample(size);
      auto own = make_context(key);
      own->options.set_bits(static_cast<std::uint8_t>(bits));
      Context shared(key, kSeeded, encoding);
      shared.buffers = buffers;
      shared.options.set_bits(static_cast<std::uint8_t>(bits));
      const Bytes stream = encoded_by(shared, input);
      ASSERT_EQ(stream, encoded_by(*own, input));

      Context decoder(key, Rng(Rng::Seed{}), decoding);
      decoder.buffers = buffers;
      File in = memory_file(stream), out = memory_file();
      ASSERT_EQ(outcome(decoder.decode_stream(in, out)), "ok");
      EXPECT_EQ(contents_of(out), input);
    }
  }
}

TEST(ContextTest, AContextServesOneStream) {
  const Key key = shuffled_key(8);
  const std::string refusal = "InvalidInput: a context serves one stream";
  auto encoder = make_context(key);
  encoder->options.set_bits(3);
  const Bytes stream = encoded_by(*encoder, sample(1000));
  const Rng after_first = encoder->rng;
  const auto try_streams = [&](Context& context) {
    File in = memory_file(sample(1000)), out = memory_file();
    EXPECT_EQ(outcome(context.encode_stream(in, out)), refusal);
    File stored = memory_file(stream);
    EXPECT_EQ(outcome(context.decode_stream(stored, out)), refusal);
    EXPECT_TRUE(contents_of(out).empty());
  };
  try_streams(*encoder);
  EXPECT_EQ(encoder->rng.counter, after_first.counter) << "a refused stream drew modifiers";

  auto decoder = make_context(key);
  File stored = memory_file(stream), out = memory_file();
  ASSERT_EQ(outcome(decoder->decode_stream(stored, out)), "ok");
  try_streams(*decoder);

  // The file forms refuse before they create anything.
  const jxtest::Scratch dir;
  dir.write("in", sample(10));
  EXPECT_EQ(outcome(encoder->encode_file(dir.at("in"), dir.at("in.jxd"), false)), refusal);
  EXPECT_EQ(outcome(decoder->decode_file(dir.at("in"), dir.at("out"), false)), refusal);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"in"});
}

TEST(ContextTest, TablesWithoutTheDirectionAreRefusedBeforeAnythingIsWritten) {
  const Key key = shuffled_key(9);
  const Bytes stream = encoded_by(*make_context(key), sample(300));
  for (auto use : {CodeTables::Use::Encoding, CodeTables::Use::Decoding, CodeTables::Use::None}) {
    SCOPED_TRACE(static_cast<int>(use));
    Context context(key, kSeeded, CodeTables::build(key, use));
    File in = memory_file(sample(300)), out = memory_file();
    const Status encoded = context.encode_stream(in, out);
    File stored = memory_file(stream);
    const Status decoded = context.decode_stream(stored, out);
    EXPECT_EQ(outcome(encoded), use == CodeTables::Use::Encoding
                                    ? "ok"
                                    : "InvalidInput: the context has no tables for encoding");
    if (use != CodeTables::Use::Encoding) {
      EXPECT_EQ(outcome(decoded), use == CodeTables::Use::Decoding
                                      ? "ok"
                                      : "InvalidInput: the context has no tables for decoding");
    }
  }
}

}  // namespace
}  // namespace jx

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bytes.h"
#include "codec_cases.h"
#include "jx/context.h"
#include "reference_encoder.h"

namespace jx {
namespace {

using jxtest::append_big_endian;
using jxtest::big_endian_at;
using jxtest::put_big_endian_at;

TEST_F(CodecTest, StreamsMatchTheReferenceByteForByte) {
  const Key key = test_key();
  const std::size_t sizes[] = {0, 1, 128, 129, 130, 255, 256, 257, 511, 512, 513, 1500, 300000};
  on_each_code_path([&] {
    for (int bits = 0; bits < 4; ++bits) {
      for (std::size_t size : sizes) {
        SCOPED_TRACE(testing::Message() << "options " << bits << " size " << size);
        const Bytes input = sample_input(size);
        write("in", input);
        auto context = std::make_unique<Context>(key, kSeeded);
        context->options = options_of(bits);
        ASSERT_EQ(describe(context->encode_file(path("in"), path("in.jxd"), false)), "ok");
        Rng expected_rng = kSeeded;
        const Bytes expected = reference_encode(key, expected_rng, options_of(bits), input);
        ASSERT_EQ(read("in.jxd"), expected);
        EXPECT_EQ(context->rng.counter, expected_rng.counter);
        EXPECT_EQ(context->rng.z, expected_rng.z);
        EXPECT_EQ(context->mod_a, big_endian_at(expected, 5));
        EXPECT_EQ(context->mod_s, big_endian_at(expected, 29));
        std::filesystem::remove(path("in.jxd"));
      }
    }
  });
}

TEST_F(CodecTest, PartialLengthsStayWithinTheirRange) {
  Rng rng = kSeeded;
  std::vector<std::size_t> lengths;
  const Bytes input = sample_input(400000);
  const Bytes stream = reference_encode(test_key(), rng, options_of(1), input, &lengths);
  write("in", input);
  auto context = std::make_unique<Context>(test_key(), kSeeded);
  context->options.partial = true;
  ASSERT_EQ(describe(context->encode_file(path("in"), path("in.jxd"), false)), "ok");
  EXPECT_EQ(read("in.jxd"), stream);
  EXPECT_EQ(*std::min_element(lengths.begin(), lengths.end()), 129u);
  EXPECT_EQ(*std::max_element(lengths.begin(), lengths.end()), 256u);
}

constexpr std::size_t kRoundTripSizes[] = {0, 1, 128, 129, 255, 256, 257, 70001};

TEST_F(CodecTest, RoundTripsKeepSizesAndHeaders) {
  const Key key = test_key();
  const mode_t mask = ::umask(0);
  ::umask(mask);
  on_each_code_path([&] {
    for (int bits = 0; bits < 4; ++bits) {
      const Options options = options_of(bits);
      const std::size_t block_size = options.inflate ? 1024 : 256;
      for (std::size_t size : kRoundTripSizes) {
        SCOPED_TRACE(testing::Message() << "options " << bits << " size " << size);
        const Bytes input = sample_input(size, 7);
        write("in", input);
        auto encoder = std::make_unique<Context>(key, Rng::from_os().value());
        encoder->options = options;
        ASSERT_EQ(describe(encoder->encode_file(path("in"), path("in.jxd"), false)), "ok");

        // Blocks: as many as it takes for their requested lengths to hold the input.
        std::size_t blocks = 0;
        for (std::size_t held = 0; held < size; ++blocks) {
          held += reference_block(encoder->key, options.partial, blocks).length;
        }
        const Bytes stream = read("in.jxd");
        ASSERT_EQ(stream.size(), 45 + blocks * block_size);
        EXPECT_EQ(Bytes(stream.begin(), stream.begin() + 5),
                  (Bytes{'J', 'X', 'D', 1, static_cast<std::uint8_t>(bits)}));
        EXPECT_EQ(big_endian_at(stream, 5), encoder->mod_a);
        EXPECT_EQ(big_endian_at(stream, 13), encoder->mod_b);
        EXPECT_EQ(big_endian_at(stream, 21), encoder->mod_c);
        EXPECT_EQ(big_endian_at(stream, 29), encoder->mod_s);
        EXPECT_EQ(big_endian_at(stream, stream.size() - 8), size);
        struct stat info;
        ASSERT_EQ(::stat(path("in.jxd").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);

        auto decoder = std::make_unique<Context>(key, Rng(Rng::Seed{}));
        ASSERT_EQ(describe(decoder->decode_file(path("in.jxd"), path("out"), false)), "ok");
        EXPECT_EQ(read("out"), input);
        EXPECT_EQ(decoder->options.bits(), bits);
        EXPECT_EQ(decoder->rng.counter, 0u) << "decoding drew on the generator";
        ASSERT_EQ(::stat(path("out").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        EXPECT_EQ(entries(), (std::vector<std::string>{"in", "in.jxd", "out"}));
        std::filesystem::remove(path("in.jxd"));
        std::filesystem::remove(path("out"));
      }
    }
  });
}

TEST_F(CodecTest, AllZeroPadGathersInShiftedKeyOrder) {
  // A zero generator gives zero modifiers and filler, and with a = c = 0 every rewritten key
  // word is 0: each block's pad is zero, its requested length under partial is 129, and the
  // swaps with position 0 leave the order k[255], k[0], ..., k[254].
  Key key = test_key();
  key.a = 0;
  key.c = 0;
  const Bytes input = sample_input(300);
  write("in", input);
  auto context = std::make_unique<Context>(key, Rng(Rng::Seed{}));
  context->options.partial = true;
  ASSERT_EQ(describe(context->encode_file(path("in"), path("in.jxd"), false)), "ok");
  Bytes expected = {'J', 'X', 'D', 1, 1};
  expected.resize(37);
  for (std::size_t start : {std::size_t{0}, std::size_t{129}, std::size_t{258}}) {
    Bytes buffer(256);
    for (std::size_t p = 0; p < 129 && start + p < input.size(); ++p) buffer[p] = input[start + p];
    expected.push_back(buffer[key.k[255]]);
    for (std::size_t p = 1; p < 256; ++p) expected.push_back(buffer[key.k[p - 1]]);
  }
  append_big_endian(expected, 300);
  EXPECT_EQ(read("in.jxd"), expected);
}

TEST_F(CodecTest, PipesInSmallPiecesGiveTheSameStreams) {
  const Key key = test_key();
  const Bytes input = sample_input(290000);
  auto feed = [](int fd, const Bytes& bytes) {
    for (std::size_t at = 0; at < bytes.size(); at += 97) {
      const std::size_t n = std::min<std::size_t>(97, bytes.size() - at);
      ASSERT_EQ(::write(fd, bytes.data() + at, n), static_cast<ssize_t>(n));
    }
    ::close(fd);
  };
  for (int bits : {0, 3}) {
    SCOPED_TRACE(testing::Message() << "options " << bits);
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    std::thread writer(feed, pipe_fds[1], std::cref(input));
    File from_pipe(pipe_fds[0]);
    File stream_file(::open(path("in.jxd").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    auto encoder = std::make_unique<Context>(key, kSeeded);
    encoder->options = options_of(bits);
    const Status encoded = encoder->encode_stream(from_pipe, stream_file);
    writer.join();
    ASSERT_EQ(describe(encoded), "ok");
    Rng rng = kSeeded;
    const Bytes stream = reference_encode(key, rng, options_of(bits), input);
    ASSERT_EQ(read("in.jxd"), stream);

    ASSERT_EQ(::pipe(pipe_fds), 0);
    std::thread stream_writer(feed, pipe_fds[1], std::cref(stream));
    File stream_pipe(pipe_fds[0]);
    File plain_file(::open(path("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    auto decoder = std::make_unique<Context>(key, kSeeded);
    const Status decoded = decoder->decode_stream(stream_pipe, plain_file);
    stream_writer.join();
    ASSERT_EQ(describe(decoded), "ok");
    EXPECT_EQ(read("out"), input);
  }
}

// ---------------------------------------------------------------------------------------

TEST_F(CodecTest, MalformedStreamsAreRefusedWithoutOutput) {
  const Key key = test_key();
  Rng rng = kSeeded;
  const Bytes plain = reference_encode(key, rng, Options{}, sample_input(600));  // 3 blocks
  rng = kSeeded;
  std::vector<std::size_t> lengths;
  const Bytes partial = reference_encode(key, rng, options_of(1), sample_input(600), &lengths);
  std::size_t partial_before_last = 0;
  for (std::size_t i = 0; i + 1 < lengths.size(); ++i) partial_before_last += lengths[i];
  const std::size_t partial_through_last = partial_before_last + lengths.back();

  auto with_footer = [](Bytes stream, std::uint64_t size) {
    put_big_endian_at(stream, stream.size() - 8, size);
    return stream;
  };
  auto with_byte = [](Bytes stream, std::size_t at, std::uint8_t value) {
    stream[at] = value;
    return stream;
  };
  auto cut = [](const Bytes& stream, std::size_t size) {
    return Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(size));
  };
  Bytes empty_stream = cut(plain, 37);
  append_big_endian(empty_stream, 0);
  Bytes appended = plain;
  appended.push_back(0);

  const std::string corrupted = "stream is truncated or corrupted";
  struct Row {
    const char* name;
    Bytes stream;
    std::string message;
  };
  const Row rows[] = {
      {"empty file", {}, "not a stream file"},
      {"two bytes", cut(plain, 2), "not a stream file"},
      {"another magic", with_byte(plain, 2, 'K'), "not a stream file"},
      {"version 2", with_byte(plain, 3, 2), "unsupported stream version 2"},
      {"options 4", with_byte(plain, 4, 4), "unknown stream options 4"},
      {"options 7", with_byte(plain, 4, 7), "unknown stream options 7"},
      {"cut in the header", cut(plain, 20), corrupted},
      {"header only", cut(plain, 37), corrupted},
      {"cut inside a block", cut(plain, 37 + 300), corrupted},
      {"cut after a block", cut(plain, 37 + 512), corrupted},
      {"cut inside the footer", cut(plain, plain.size() - 3), corrupted},
      {"a byte after the footer", appended, corrupted},
      {"footer beyond the blocks", with_footer(plain, 769), corrupted},
      {"footer short of the last block", with_footer(plain, 512), corrupted},
      {"footer zero with blocks", with_footer(plain, 0), corrupted},
      {"footer without blocks", with_footer(empty_stream, 1), corrupted},
      {"partial footer beyond the blocks", with_footer(partial, partial_through_last + 1),
       corrupted},
      {"partial footer short of the last block", with_footer(partial, partial_before_last),
       corrupted},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    write("in.jxd", row.stream);
    auto context = std::make_unique<Context>(key, kSeeded);
    const Status decoded = context->decode_file(path("in.jxd"), path("out"), false);
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error().kind(), ErrorKind::InvalidData);
    EXPECT_EQ(decoded.error().message(), row.message);
    EXPECT_EQ(entries(), std::vector<std::string>{"in.jxd"});
  }

  // Any footer within the last block is accepted; beyond the 600 input bytes come filler.
  for (std::size_t size : {std::size_t{513}, std::size_t{600}, std::size_t{768}}) {
    SCOPED_TRACE(size);
    write("in.jxd", with_footer(plain, size));
    auto context = std::make_unique<Context>(key, kSeeded);
    ASSERT_EQ(describe(context->decode_file(path("in.jxd"), path("out"), false)), "ok");
    const Bytes decoded = read("out");
    ASSERT_EQ(decoded.size(), size);
    const Bytes input = sample_input(600);
    const auto compared = static_cast<std::ptrdiff_t>(std::min<std::size_t>(size, 600));
    EXPECT_TRUE(std::equal(decoded.begin(), decoded.begin() + compared, input.begin()));
    std::filesystem::remove(path("out"));
  }
}

TEST_F(CodecTest, DecodingRefusesAKeyThatIsNotAPermutation) {
  write("in", sample_input(100));
  auto encoder = std::make_unique<Context>(test_key(), kSeeded);
  ASSERT_EQ(describe(encoder->encode_file(path("in"), path("in.jxd"), false)), "ok");
  Key key = test_key();
  key.k[0] = key.k[1];
  auto decoder = std::make_unique<Context>(key, kSeeded);
  const Status decoded = decoder->decode_file(path("in.jxd"), path("out"), false);
  ASSERT_FALSE(decoded);
  EXPECT_EQ(decoded.error().kind(), ErrorKind::InvalidInput);
  EXPECT_EQ(decoded.error().message(), "the key is not a permutation");
  EXPECT_EQ(entries(), (std::vector<std::string>{"in", "in.jxd"}));
}

}  // namespace
}  // namespace jx

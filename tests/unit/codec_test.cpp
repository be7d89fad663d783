#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../../jx/src/block_plan.h"
#include "jx/context.h"

namespace jx {
namespace {

using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------------------
// A reference encoder, written as plainly as possible from the description of the cipher:
// one block at a time, one byte at a time, codes computed from k instead of the tables.

struct ReferenceBlock {
  std::uint8_t pad[257];
  std::uint8_t order[256];
  std::size_t length;
};

ReferenceBlock reference_block(const Key& key, bool partial, std::uint64_t i) {
  ReferenceBlock block{};
  const std::uint64_t t = key.s + i;
  std::uint64_t x = std::rotl(key.c, static_cast<int>(t % 64)) * t;
  std::uint64_t y = x ^ key.a;
  std::uint64_t z = x + key.b;
  for (unsigned p = 0; p <= 256; ++p) {
    block.pad[p] = static_cast<std::uint8_t>((z ^ y) + x);
    y = std::rotl(y, 11);
    if (p % 3 == 0) z = std::rotl(z, 13);
    if (p % 5 == 0) x = std::rotl(x, 17);
  }
  for (unsigned p = 0; p < 256; ++p) block.order[p] = key.k[p];
  for (unsigned p = 0; p < 256; ++p) std::swap(block.order[p], block.order[block.pad[p]]);
  block.length = partial ? (block.pad[256] | 0x80u) + 1 : 256;
  return block;
}

unsigned hi(unsigned v) {
  return v >> 4;
}
unsigned lo(unsigned v) {
  return v & 15;
}

unsigned reference_row_code(const Key& key, unsigned v, unsigned col) {
  return key.k[16 * hi(v) + hi(col)] * 256u + key.k[16 * lo(v) + lo(col)];
}

unsigned reference_col_code(const Key& key, unsigned v, unsigned col) {
  return key.k[16 * hi(col) + hi(v)] * 256u + key.k[16 * lo(col) + lo(v)];
}

void append_big_endian(Bytes& out, std::uint64_t word) {
  for (int shift = 56; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(word >> shift));
}

std::uint8_t low8(std::uint64_t v) {
  return static_cast<std::uint8_t>(v);
}

// The stream of `input`; `rng` ends as the encoder's generator should, `lengths` receives the
// requested length of every block.
Bytes reference_encode(Key key, Rng& rng, Options options, const Bytes& input,
                       std::vector<std::size_t>* lengths = nullptr) {
  const std::uint64_t mod_a = rng.get(), mod_b = rng.get(), mod_c = rng.get(), mod_s = rng.get();
  key.a = key.a ^ mod_a;
  key.b = key.a ^ mod_b;
  key.c = key.a ^ mod_c;
  key.s = key.a ^ mod_s;
  Bytes out = {'J', 'X', 'D', 1, static_cast<std::uint8_t>(options.partial + 2 * options.inflate)};
  for (std::uint64_t mod : {mod_a, mod_b, mod_c, mod_s}) append_big_endian(out, mod);
  std::size_t at = 0;
  for (std::uint64_t i = 0;; ++i) {
    const ReferenceBlock block = reference_block(key, options.partial, i);
    const std::size_t n = std::min(block.length, input.size() - at);
    if (n == 0) break;
    if (lengths) lengths->push_back(block.length);
    std::uint8_t buffer[256];
    for (std::size_t p = 0; p < n; ++p) buffer[p] = input[at + p];
    for (std::size_t p = n; p < 256; ++p) buffer[p] = low8(rng.get());
    at += n;
    std::uint8_t gathered[256];
    for (unsigned p = 0; p < 256; ++p) gathered[p] = buffer[block.order[p]] ^ block.pad[p];
    if (!options.inflate) {
      out.insert(out.end(), gathered, gathered + 256);
      continue;
    }
    std::uint8_t expanded[1024];
    for (int p = 255; p >= 0; --p) {
      const unsigned code = reference_row_code(key, gathered[p], low8(rng.get()));
      expanded[2 * p] = static_cast<std::uint8_t>(code >> 8);
      expanded[2 * p + 1] = static_cast<std::uint8_t>(code);
    }
    for (int q = 511; q >= 0; --q) {
      const unsigned code = reference_col_code(key, expanded[q], low8(rng.get()));
      expanded[2 * q] = static_cast<std::uint8_t>(code >> 8);
      expanded[2 * q + 1] = static_cast<std::uint8_t>(code);
    }
    out.insert(out.end(), expanded, expanded + 1024);
  }
  append_big_endian(out, input.size());
  return out;
}

// ---------------------------------------------------------------------------------------

Key test_key() {
  Rng rng(Rng::Seed{0x4B, 0x45, 0x59});
  Bytes seed(Key::kSeedSize);
  for (auto& byte : seed) byte = low8(rng.get());
  return Key::new_from_seed(seed).value();
}

const Rng kSeeded(Rng::Seed{0x31, 0x41, 0x59, 0x26, 0x53, 0x58, 0x97, 0x93, 0x23, 0x84, 0x62,
                            0x64, 0x33, 0x83, 0x27, 0x95, 0x02, 0x88, 0x41, 0x97, 0x16, 0x93,
                            0x99, 0x37, 0x51, 0x05, 0x82, 0x09, 0x74, 0x94, 0x45, 0x92});

Bytes sample_input(std::size_t size, std::uint8_t salt = 0) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 131 + i / 256 + salt);
  return bytes;
}

Options options_of(int bits) {
  Options options;
  options.set_bits(static_cast<std::uint8_t>(bits));
  return options;
}

std::uint64_t big_endian_at(const Bytes& bytes, std::size_t at) {
  std::uint64_t word = 0;
  for (std::size_t i = 0; i < 8; ++i) word = word << 8 | bytes[at + i];
  return word;
}

void put_big_endian_at(Bytes& bytes, std::size_t at, std::uint64_t word) {
  for (int i = 7; i >= 0; --i, word >>= 8) bytes[at + static_cast<std::size_t>(i)] = low8(word);
}

std::string describe(const Status& status) {
  return status ? std::string("ok") : status.error().detailed_form();
}

// Runs `body` with each way the block code can run here: with the processor's vector
// instructions where it has them, and with the portable code.
void on_each_code_path(const std::function<void()>& body) {
  const bool vector_available = vector_code_enabled();
  for (bool vector : {true, false}) {
    if (vector && !vector_available) continue;
    SCOPED_TRACE(vector ? "vector code" : "portable code");
    enable_vector_code(vector);
    body();
  }
  enable_vector_code(vector_available);
}

class CodecTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "jx-codec-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  void write(const std::string& name, const Bytes& bytes) const {
    std::ofstream(path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }

  Bytes read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }

  // Every name in the scratch directory, temporary files included, sorted.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
};

// ---------------------------------------------------------------------------------------
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
  for (auto& byte : bytes) byte = low8(random());
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

// ---------------------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------------------

TEST_F(CodecTest, ExistingOutputsNeedForce) {
  write("in", sample_input(1000));
  auto encoder = std::make_unique<Context>(test_key(), kSeeded);
  ASSERT_EQ(describe(encoder->encode_file(path("in"), path("in.jxd"), false)), "ok");
  const Bytes stream = read("in.jxd");
  const Bytes old_bytes = {'o', 'l', 'd'};

  const std::string exists = R"(Os { code: 17, kind: AlreadyExists, message: "File exists" })";
  struct Row {
    const char* name;
    std::function<Status(Context&)> run;
    std::string result;
    Bytes output;  // what "out" holds afterwards
  };
  const Row rows[] = {
      {"encode", [&](Context& c) { return c.encode_file(path("in"), path("out"), false); }, exists,
       old_bytes},
      {"decode", [&](Context& c) { return c.decode_file(path("in.jxd"), path("out"), false); },
       exists, old_bytes},
      {"decode with force",
       [&](Context& c) { return c.decode_file(path("in.jxd"), path("out"), true); }, "ok",
       sample_input(1000)},
      {"encode with force",
       [&](Context& c) { return c.encode_file(path("in"), path("out"), true); }, "ok", stream},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    write("out", old_bytes);
    auto context = std::make_unique<Context>(test_key(), kSeeded);
    EXPECT_EQ(describe(row.run(*context)), row.result);
    EXPECT_EQ(read("out"), row.output);
    EXPECT_EQ(entries(), (std::vector<std::string>{"in", "in.jxd", "out"}));
  }
}

TEST_F(CodecTest, MissingInputsCreateNothing) {
  auto context = std::make_unique<Context>(test_key(), kSeeded);
  for (bool force : {false, true}) {
    SCOPED_TRACE(force);
    const Status encoded = context->encode_file(path("missing"), path("out"), force);
    ASSERT_FALSE(encoded);
    EXPECT_EQ(encoded.error().kind(), ErrorKind::NotFound);
    const Status decoded = context->decode_file(path("missing"), path("out"), force);
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error().kind(), ErrorKind::NotFound);
    EXPECT_TRUE(entries().empty());
  }
}

TEST_F(CodecTest, ReadingADirectoryFailsWithoutOutput) {
  std::filesystem::create_directory(path("dir"));
  auto context = std::make_unique<Context>(test_key(), kSeeded);
  const Status encoded = context->encode_file(path("dir"), path("out"), false);
  ASSERT_FALSE(encoded);
  EXPECT_EQ(encoded.error().kind(), ErrorKind::IsADirectory);
  EXPECT_EQ(entries(), std::vector<std::string>{"dir"});
}

TEST_F(CodecTest, WritesToAFullDeviceFail) {
  write("in", sample_input(1000));
  Rng rng = kSeeded;
  write("in.jxd", reference_encode(test_key(), rng, Options{}, sample_input(1000)));
  const std::string full =
      R"(Os { code: 28, kind: StorageFull, message: "No space left on device" })";
  for (bool decoding : {false, true}) {
    SCOPED_TRACE(decoding);
    File input = File::open_read(path(decoding ? "in.jxd" : "in")).value();
    File device(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(device.is_open());
    auto context = std::make_unique<Context>(test_key(), kSeeded);
    const Status status =
        decoding ? context->decode_stream(input, device) : context->encode_stream(input, device);
    EXPECT_EQ(describe(status), full);
  }
}

// Runs `body` in a child process, so that it may change process-wide limits, and returns the
// text that it gives back.
std::string in_child(const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const std::string text = body();
    [[maybe_unused]] ssize_t n = ::write(fds[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string text;
  char chunk[512];
  for (ssize_t n; (n = ::read(fds[0], chunk, sizeof chunk)) > 0;)
    text.append(chunk, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return text;
}

// Files of this process may grow to `limit` bytes; a write beyond fails with EFBIG.
void limit_file_size(rlim_t limit) {
  std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit bound {};
  ::getrlimit(RLIMIT_FSIZE, &bound);
  bound.rlim_cur = limit;
  ::setrlimit(RLIMIT_FSIZE, &bound);
}

TEST_F(CodecTest, FailedWritesLeaveNoTemporaryFile) {
  const Bytes input = sample_input(4096);  // a 4141-byte stream
  write("in", input);
  Rng rng = kSeeded;
  write("stream", reference_encode(test_key(), rng, Options{}, input));
  for (bool decoding : {false, true}) {
    SCOPED_TRACE(decoding);
    const std::string result = in_child([&] {
      limit_file_size(1000);
      auto context = std::make_unique<Context>(test_key(), kSeeded);
      return describe(decoding ? context->decode_file(path("stream"), path("out"), false)
                               : context->encode_file(path("in"), path("out"), false));
    });
    EXPECT_EQ(result, R"(Os { code: 27, kind: FileTooLarge, message: "File too large" })");
    EXPECT_EQ(entries(), (std::vector<std::string>{"in", "stream"}));
  }
}

// Makes every write to `fd` of fewer than `count` bytes accept nothing, as a write that
// stalls does. False where the system offers no such filter.
bool stall_short_writes(int fd, std::uint32_t count) {
  struct sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_write, 0, 5),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[0])),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(fd), 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[2])),
      BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, count, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  struct sock_fprog program = {static_cast<unsigned short>(std::size(filter)), filter};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

TEST_F(CodecTest, StalledWritesAreNamedAfterThePartOfTheStream) {
  // The stream goes out in one write, which the size limit cuts short at `stored`; the write
  // that continues it accepts nothing.
  write("in", sample_input(1000));  // 4 blocks: 1069 bytes, or 4141 expanded
  const std::string header_stall =
      R"(Error { kind: WriteZero, message: "failed to write whole buffer" })";
  const std::string regular =
      R"(Custom { kind: Other, error: "Cannot write a complete (regular) block" })";
  const std::string expanded =
      R"(Custom { kind: Other, error: "Cannot write a complete (expanded) block" })";
  const std::string footer = R"(Custom { kind: Other, error: "Cannot write footer" })";
  struct Row {
    bool inflate;
    rlim_t stored;
    std::string expected;
  };
  const Row rows[] = {
      {false, 10, header_stall}, {false, 36, header_stall}, {false, 37, regular},
      {false, 500, regular},     {false, 1060, regular},    {false, 1061, footer},
      {false, 1068, footer},     {true, 20, header_stall},  {true, 37, expanded},
      {true, 4132, expanded},    {true, 4133, footer},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "inflate " << row.inflate << " stored " << row.stored);
    const std::uint32_t stream_size = row.inflate ? 4141 : 1069;
    const std::string result = in_child([&] {
      File input = File::open_read(path("in")).value();
      File output(::open(path("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
      limit_file_size(row.stored);
      if (!stall_short_writes(output.fd(), stream_size)) return std::string("no filter");
      auto context = std::make_unique<Context>(test_key(), kSeeded);
      context->options.inflate = row.inflate;
      return describe(context->encode_stream(input, output));
    });
    if (result == "no filter") GTEST_SKIP() << "system call filters are not available";
    EXPECT_EQ(result, row.expected);
    EXPECT_EQ(read("out").size(), row.stored);
  }
}

}  // namespace
}  // namespace jx

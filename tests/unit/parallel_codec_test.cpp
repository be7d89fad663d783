// Streams spread over threads: the same bytes as one thread writes, for every thread count,
// size and option, and the same errors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

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
#include "child_process.h"
#include "codec_cases.h"
#include "jx/context.h"

namespace jx {
namespace {

using jxtest::in_child;
using jxtest::limit_file_size;
using jxtest::stall_short_writes;

constexpr std::size_t kBatch = 256 * 256;       // input bytes of a full batch with inflate,
                                                // a quarter of one without
constexpr std::size_t kParallelFrom = 1 << 20;  // regular files smaller stay on one thread
const std::size_t kThreadCounts[] = {1, 2, 8};

// Bytes without a pattern, so that no block looks like another.
Bytes random_input(std::size_t size) {
  std::mt19937_64 random(size);
  Bytes bytes(size);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

// Where a stream's input comes from: a regular file, or a pipe fed by another thread, which
// goes to the threads whatever its size.
enum class Source { File, Pipe };

class ParallelCodecTest : public testing::Test {
 protected:
  void SetUp() override {
    // The streams here run to tens of megabytes, rewritten many times: in memory where there
    // is a memory file system, so that the disk's writeback does not set the pace.
    const bool in_memory = ::access("/dev/shm", W_OK) == 0;
    std::string pattern = (in_memory ? std::string("/dev/shm/") : testing::TempDir()) +
                          "jx-parallel-XXXXXX";
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

  // Runs one stream operation of a fresh context over `input` from the source, and gives its
  // status and output.
  std::pair<std::string, Bytes> run(bool encoding, const Bytes& input, Source source,
                                    std::size_t threads, Options options = {}) {
    Context context(key_, kSeeded, tables_);
    context.options = options;
    context.threads = threads;
    File output(::open(path("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    Status status = Done{};
    auto operate = [&](File& from) {
      status = encoding ? context.encode_stream(from, output) : context.decode_stream(from, output);
    };
    if (source == Source::File) {
      write("in", input);
      File from = File::open_read(path("in")).value();
      operate(from);
    } else {
      int fds[2];
      EXPECT_EQ(::pipe(fds), 0);
      std::thread feeder([&] {
        File to(fds[1]);
        static_cast<void>(to.write_all(input));
      });
      File from(fds[0]);
      operate(from);
      from.close();  // a feeder that the stream stopped reading from sees a broken pipe
      feeder.join();
    }
    output.close();
    return {describe(status), read("out")};
  }

  Bytes encode(const Bytes& input, Source source, std::size_t threads, Options options) {
    auto [status, stream] = run(true, input, source, threads, options);
    EXPECT_EQ(status, "ok");
    return stream;
  }

  Key key_ = test_key();
  std::shared_ptr<const CodeTables> tables_ = CodeTables::build(key_, CodeTables::Use::Both);
  std::string dir_;
};

Options options_of(int bits) {
  Options options;
  options.set_bits(static_cast<std::uint8_t>(bits));
  return options;
}

TEST(ParallelBlockCodeTest, BlockLengthsAreThoseOfThePlans) {
  std::mt19937_64 random(7);
  Key key = test_key();
  BlockPlan plan;
  for (int round = 0; round < 2000; ++round) {
    key.a = random();
    key.b = random();
    key.c = random();
    key.s = random();
    const std::uint64_t block = round < 1000 ? random() : static_cast<std::uint64_t>(round);
    for (bool partial : {false, true}) {
      plan_block(key, partial, block, plan);
      ASSERT_EQ(block_length(key, partial, block), plan.length) << round;
    }
  }
}

// Sizes at the edges of blocks and of batches, from pipes (any size goes to the threads) and
// from files large enough to.
struct SizeCase {
  Source source;
  std::size_t size;
};

const SizeCase kSizes[] = {
    {Source::Pipe, 0},
    {Source::Pipe, 1},
    {Source::Pipe, 255},
    {Source::Pipe, 256},
    {Source::Pipe, 257},
    {Source::Pipe, kBatch - 1},
    {Source::Pipe, kBatch},
    {Source::Pipe, kBatch + 1},
    {Source::Pipe, 2 * kBatch + 129},
    {Source::Pipe, 4 * kBatch - 1},
    {Source::Pipe, 4 * kBatch},
    {Source::Pipe, 4 * kBatch + 1},
    {Source::Pipe, 20 * kBatch + 300},  // around the ring of batches more than once
    {Source::File, kParallelFrom},
    {Source::File, kParallelFrom + 1},
    {Source::File, kParallelFrom + kBatch - 256},
    {Source::File, 3 * kParallelFrom + 255},
};

// Under a sanitizer every byte costs many times more: the streams of several megabytes are
// left to the plain builds there, and the cases around every edge are kept.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define JX_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define JX_TEST_SANITIZED 1
#endif
#endif
#ifdef JX_TEST_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

TEST_F(ParallelCodecTest, EveryThreadCountWritesTheSameStream) {
  for (const SizeCase& size_case : kSizes) {
    if (kSanitized && size_case.size > 4 * kBatch + 1) continue;
    const Bytes input = random_input(size_case.size);
    for (int bits = 0; bits < 4; ++bits) {
      SCOPED_TRACE(testing::Message() << "size " << size_case.size << " options " << bits
                                      << (size_case.source == Source::Pipe ? " pipe" : " file"));
      const Bytes single = encode(input, Source::File, 1, options_of(bits));
      for (std::size_t threads : kThreadCounts) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        ASSERT_EQ(encode(input, size_case.source, threads, options_of(bits)), single);
        const auto [status, output] = run(false, single, size_case.source, threads);
        ASSERT_EQ(status, "ok");
        ASSERT_EQ(output, input);
      }
    }
  }
}

// Streams cut short or with a footer that does not fit: refused with the message one thread
// gives, from pipes (a file's size is checked before any thread starts).
TEST_F(ParallelCodecTest, MalformedStreamsFailAsOnOneThread) {
  const Bytes input = random_input(5 * kBatch + 1000);
  for (int bits : {0, 1, 2}) {
    const Bytes good = encode(input, Source::File, 1, options_of(bits));
    auto with_footer = [&](std::uint64_t total) {
      Bytes stream = good;
      for (std::size_t i = 0; i < 8; ++i) {
        stream[stream.size() - 1 - i] = static_cast<std::uint8_t>(total >> (8 * i));
      }
      return stream;
    };
    const std::size_t stored = bits & 2 ? 1024 : 256;
    const std::pair<std::string, Bytes> cases[] = {
        {"cut inside a block", Bytes(good.begin(), good.end() - 8 - stored / 2)},
        {"cut inside the footer", Bytes(good.begin(), good.end() - 3)},
        {"cut at a batch's end", Bytes(good.begin(), good.begin() + 37 + 256 * 1024)},
        {"footer too large", with_footer(input.size() + 257)},
        {"footer one too large", with_footer(input.size() + 256 + 1)},
        {"footer of zero", with_footer(0)},
        {"cut to the header", Bytes(good.begin(), good.begin() + 37)},
    };
    for (const auto& [name, stream] : cases) {
      SCOPED_TRACE(testing::Message() << name << ", options " << bits);
      const std::string single = run(false, stream, Source::Pipe, 1).first;
      EXPECT_NE(single, "ok");
      for (std::size_t threads : {std::size_t{2}, std::size_t{8}}) {
        EXPECT_EQ(run(false, stream, Source::Pipe, threads).first, single) << threads;
      }
    }
  }
}

// Each batch of a 2 MiB input goes out in one write of a full batch, the header gathered
// with the first; the size limit cuts one short, and the shorter write that continues it
// stalls, as does the footer's, so that the stream stalls where the limit is.
TEST_F(ParallelCodecTest, StalledWritesAreNamedAsOnOneThread) {
  write("in", random_input(2 * kParallelFrom));
  const std::string regular =
      R"(Custom { kind: Other, error: "Cannot write a complete (regular) block" })";
  const std::string expanded =
      R"(Custom { kind: Other, error: "Cannot write a complete (expanded) block" })";
  const std::string footer = R"(Custom { kind: Other, error: "Cannot write footer" })";
  struct Row {
    bool inflate;
    rlim_t limit;
    std::string expected;
    std::uint64_t stored;
  };
  const std::uint64_t regular_blocks = 37 + 2 * kParallelFrom;
  const std::uint64_t expanded_blocks = 37 + 8 * kParallelFrom;
  const Row rows[] = {
      {false, 37 + 5 * kBatch + 1000, regular, 37 + 5 * kBatch + 1000},
      {false, regular_blocks, footer, regular_blocks},
      {false, regular_blocks + 5, footer, regular_blocks},
      {true, 37 + 4 * 5 * kBatch + 1000, expanded, 37 + 4 * 5 * kBatch + 1000},
      {true, expanded_blocks + 3, footer, expanded_blocks},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "inflate " << row.inflate << " limit " << row.limit);
    const std::uint32_t full_write = 4 * kBatch;
    const std::string result = in_child([&] {
      File input = File::open_read(path("in")).value();
      File output(::open(path("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
      limit_file_size(row.limit);
      if (!stall_short_writes(output.fd(), full_write)) return std::string("no filter");
      Context context(key_, kSeeded, tables_);
      context.options.inflate = row.inflate;
      context.threads = 2;
      return describe(context.encode_stream(input, output));
    });
    if (result == "no filter") GTEST_SKIP() << "system call filters are not available";
    EXPECT_EQ(result, row.expected);
    EXPECT_EQ(read("out").size(), row.stored);
  }
}

TEST_F(ParallelCodecTest, ReadErrorsEndTheStreamWithTheirMessage) {
  std::filesystem::create_directory(path("directory"));
  for (bool encoding : {true, false}) {
    File directory(::open(path("directory").c_str(), O_RDONLY | O_CLOEXEC));
    File output(::open(path("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    Context context(key_, kSeeded, tables_);
    context.threads = 8;
    const Status status = encoding ? context.encode_stream(directory, output)
                                   : context.decode_stream(directory, output);
    EXPECT_EQ(describe(status),
              R"(Os { code: 21, kind: IsADirectory, message: "Is a directory" })");
  }
}

}  // namespace
}  // namespace jx

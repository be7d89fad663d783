#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "codec_cases.h"
#include "jx/context.h"
#include "reference_encoder.h"

namespace jx {
namespace {

using jxtest::in_child;
using jxtest::limit_file_size;
using jxtest::stall_short_writes;

// Codec runs that fail: outputs in the way, missing or unreadable inputs, writes that fail
// or stall.

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
  EXPECT_EQ(entries(), std::vector<std::string>{"dir/"});
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

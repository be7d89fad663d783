#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "harness.h"

namespace {

using jxtest::Launch;
using jxtest::Outcome;
using jxtest::Scratch;

using jxtest::random_bytes;
using jxtest::by_name::run;

// Writes `bytes` into the fifo at `path` in pieces of 1 to 700 bytes, with short pauses.
std::thread feed_fifo(const std::string& path, const std::string& bytes) {
  return std::thread([path, bytes] {
    int fd = ::open(path.c_str(), O_WRONLY);
    std::size_t at = 0, piece = 1;
    while (at < bytes.size()) {
      const std::size_t n = std::min(piece, bytes.size() - at);
      if (::write(fd, bytes.data() + at, n) != static_cast<ssize_t>(n)) break;
      at += n;
      piece = piece * 7 % 701 + 1;
      if (piece % 5 == 0) ::usleep(100);
    }
    ::close(fd);
  });
}

struct Options {
  const char* flags;
  std::size_t block;
};
const Options kOptionSets[] = {{"-V", 256}, {"-p", 256}, {"-i", 1024}, {"-pi", 1024}};

TEST(JxdecTest, RoundTripsEverySizeAndOption) {
  const std::size_t sizes[] = {0, 1, 128, 129, 255, 256, 257, 4097, 70001, (1 << 20) + 3};
  Scratch dir;
  ASSERT_EQ(run(dir, "jxkey", {"-r", "k"}).status, 0);
  for (const Options& options : kOptionSets) {
    for (std::size_t size : sizes) {
      SCOPED_TRACE(std::string(options.flags) + " " + std::to_string(size));
      const std::string plain = random_bytes(size, static_cast<unsigned>(size));
      dir.write("f", plain);
      ASSERT_EQ(run(dir, "jxenc", {"-F", options.flags, "-k", "k.jxk", "f"}).status, 0);
      const std::size_t stream_size = dir.read("f.jxd").size();
      EXPECT_EQ((stream_size - 45) % options.block, 0u);
      if (std::string(options.flags).find('p') == std::string::npos) {
        EXPECT_EQ(stream_size, 45 + (size + 255) / 256 * options.block);
      }
      ::unlink(dir.at("f").c_str());
      Outcome decoded = run(dir, "jxdec", {"-k", "k.jxk", "f.jxd"});
      EXPECT_EQ(decoded.out, "");
      EXPECT_EQ(decoded.status, 0);
      EXPECT_TRUE(dir.read("f") == plain);
      EXPECT_EQ(dir.mode("f"), 0600u);
      EXPECT_EQ(dir.entries(), (std::vector<std::string>{"f", "f.jxd", "k.jxk"}));
    }
  }
}

TEST(JxdecTest, RoundTripWithPassword) {
  Scratch dir;
  const std::string plain = random_bytes(5000, 5);
  dir.write("f", plain);
  Launch typed;
  typed.input = "a long pass phrase\na long pass phrase\n";
  ASSERT_EQ(run(dir, "jxenc", {"-pi", "f"}, typed).status, 0);
  ::unlink(dir.at("f").c_str());
  // A decryption asks once: it has nothing to confirm.
  Outcome decoded = run(dir, "jxdec", {"-V", "f.jxd"}, typed);
  EXPECT_EQ(decoded.out, "Enter your password:  PROCESSING: f.jxd\n");
  EXPECT_EQ(decoded.status, 0);
  EXPECT_TRUE(dir.read("f") == plain);

  // No integrity check: another password gives other bytes, without a word. (Under partial
  // the other key's block lengths rarely fit the footer, so this stream has none.)
  ASSERT_EQ(run(dir, "jxenc", {"-Fi", "f"}, typed).status, 0);
  typed.input = "another\nanother\n";
  Outcome wrong = run(dir, "jxdec", {"-F", "f.jxd"}, typed);
  EXPECT_EQ(wrong.status, 0);
  EXPECT_EQ(dir.read("f").size(), plain.size());
  EXPECT_TRUE(dir.read("f") != plain);
}

TEST(JxdecTest, StreamsThroughFifos) {
  Scratch dir;
  ASSERT_EQ(run(dir, "jxkey", {"-r", "k"}).status, 0);
  for (const Options& options : kOptionSets) {
    SCOPED_TRACE(options.flags);
    const std::string plain = random_bytes(50000, 9);
    ASSERT_EQ(::mkfifo(dir.at("in").c_str(), 0600), 0);
    std::thread writer = feed_fifo(dir.at("in"), plain);
    Outcome encoded = run(dir, "jxenc", {options.flags, "-k", "k.jxk", "in"});
    writer.join();
    ASSERT_EQ(encoded.status, 0) << encoded.out;
    const std::string stream = dir.read("in.jxd");
    ::unlink(dir.at("in").c_str());
    ::unlink(dir.at("in.jxd").c_str());

    ASSERT_EQ(::mkfifo(dir.at("s.jxd").c_str(), 0600), 0);
    writer = feed_fifo(dir.at("s.jxd"), stream);
    Outcome decoded = run(dir, "jxdec", {"-k", "k.jxk", "s.jxd"});
    writer.join();
    EXPECT_EQ(decoded.status, 0) << decoded.out;
    EXPECT_TRUE(dir.read("s") == plain);
    ::unlink(dir.at("s.jxd").c_str());
    ::unlink(dir.at("s").c_str());
  }
}

TEST(JxdecTest, MalformedStreamsLeaveNothing) {
  Scratch dir;
  ASSERT_EQ(run(dir, "jxkey", {"-r", "k"}).status, 0);
  dir.write("f", random_bytes(1000, 1));
  ASSERT_EQ(run(dir, "jxenc", {"-k", "k.jxk", "f"}).status, 0);
  const std::string good = dir.read("f.jxd");  // 4 blocks of 256
  ASSERT_EQ(good.size(), 45u + 1024);
  auto with_footer = [&](std::uint64_t size) {
    std::string bytes = good.substr(0, good.size() - 8);
    for (int shift = 56; shift >= 0; shift -= 8) bytes += static_cast<char>(size >> shift);
    return bytes;
  };
  const std::string truncated =
      "Custom { kind: InvalidData, error: \"stream is truncated or corrupted\" }\n";
  struct Row {
    const char* name;
    std::string stream;
    std::string out;
  };
  const Row rows[] = {
      {"cut inside a block", good.substr(0, 37 + 300), truncated},
      {"cut inside the footer", good.substr(0, good.size() - 3), truncated},
      {"header only", good.substr(0, 37), truncated},
      {"cut inside the header", good.substr(0, 20), truncated},
      {"footer too large", with_footer(1025), truncated},
      {"footer too small", with_footer(768), truncated},
      {"footer of zero", with_footer(0), truncated},
      {"empty file", "", "Custom { kind: InvalidData, error: \"not a stream file\" }\n"},
      {"not a stream", "JXK" + good.substr(3), "Custom { kind: InvalidData, error: \"not a stream file\" }\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    dir.write("bad.jxd", row.stream);
    Outcome outcome = run(dir, "jxdec", {"-k", "k.jxk", "bad.jxd"});
    EXPECT_EQ(outcome.out, row.out);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"bad.jxd", "f", "f.jxd", "k.jxk"}));
  }
  // The boundary cases of the footer decode.
  for (std::uint64_t size : {769u, 1024u}) {
    dir.write("edge.jxd", with_footer(size));
    EXPECT_EQ(run(dir, "jxdec", {"-F", "-k", "k.jxk", "edge.jxd"}).status, 0);
    EXPECT_EQ(dir.read("edge").size(), size);
  }
}

TEST(JxdecTest, CommandLines) {
  Scratch dir;
  ASSERT_EQ(run(dir, "jxkey", {"-r", "k"}).status, 0);
  dir.write("f", "plain");
  ASSERT_EQ(run(dir, "jxenc", {"-k", "k.jxk", "f"}).status, 0);
  dir.write("f", "earlier");
  struct Row {
    const char* name;
    std::vector<std::string> arguments;
    std::string out;
    std::string err;
    int status;
    std::string f;  // contents of f afterwards
  };
  const Row rows[] = {
      {"no arguments", {}, "  Usage: jxdec [-k keyfile] [-F] [-V] file.jxd ...\n", "", 2,
       "earlier"},
      {"existing output kept", {"-k", "k.jxk", "f.jxd"},
       "Os { code: 17, kind: AlreadyExists, message: \"File exists\" }\n", "", 1, "earlier"},
      {"forced", {"-Fk", "k.jxk", "f.jxd"}, "", "", 0, "plain"},
      {"long options", {"--force", "--verbose", "--key", "k.jxk", "f.jxd"},
       "  PROCESSING: f.jxd\n", "", 0, "plain"},
      {"name without suffix", {"-k", "k.jxk", "f", "-F", "f.jxd"},
       "Cannot decode f: the name does not end in .jxd\n", "", 1, "plain"},
      {"suffix alone", {"-k", "k.jxk", ".jxd"},
       "Cannot decode .jxd: the name does not end in .jxd\n", "", 1, "earlier"},
      {"missing stream", {"-k", "k.jxk", "absent.jxd"},
       "Os { code: 2, kind: NotFound, message: \"No such file or directory\" }\n", "", 1,
       "earlier"},
      {"no key value", {"f.jxd", "-k"}, "",
       "Error parsing key path: no value provided\nUsage: jxdec -k path/to/key\n", 2, "earlier"},
      {"empty argument", {"-k", "k.jxk", "", "f.jxd"}, "", "jxdec: argument 3 is empty\n", 2,
       "earlier"},
      {"bad key file", {"-k", "f", "f.jxd"}, "Cannot import key file, parsing error\n", "", 1,
       "earlier"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    dir.write("f", "earlier");
    Outcome outcome = run(dir, "jxdec", row.arguments);
    EXPECT_EQ(outcome.out, row.out);
    EXPECT_EQ(outcome.err, row.err);
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_EQ(dir.read("f"), row.f);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"f", "f.jxd", "k.jxk"}));
  }
}

}  // namespace

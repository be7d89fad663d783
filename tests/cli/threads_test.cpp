#include <gtest/gtest.h>

#include "harness.h"

namespace {

using jxtest::Outcome;
using jxtest::Scratch;

Outcome run(const Scratch& dir, const std::string& program, std::vector<std::string> arguments) {
  return jxtest::run(dir.path(), jxtest::program(program), arguments);
}

// A thread count that is not a positive whole number is a usage error of either program:
// one line on standard error, status 2, nothing written.
TEST(ThreadsTest, CountsThatAreNotPositiveNumbersAreRefused) {
  struct Row {
    std::vector<std::string> arguments;
    std::string why;
  };
  const Row rows[] = {
      {{"--threads"}, "--threads needs a number of threads"},
      {{"--threads", "0"}, "--threads takes a positive whole number, not \"0\""},
      {{"--threads", "-2"}, "--threads takes a positive whole number, not \"-2\""},
      {{"--threads", "+2"}, "--threads takes a positive whole number, not \"+2\""},
      {{"--threads", "2x"}, "--threads takes a positive whole number, not \"2x\""},
      {{"--threads", " 2"}, "--threads takes a positive whole number, not \" 2\""},
      {{"--threads", "99999999999999999999999"},
       "--threads takes a positive whole number, not \"99999999999999999999999\""},
      {{"--threads", "x", "--threads", "0"}, "--threads takes a positive whole number, not \"x\""},
      {{"--threads", "4", "--threads", "0"}, "--threads takes a positive whole number, not \"0\""},
  };
  for (const std::string program : {"jxenc", "jxdec"}) {
    Scratch dir;
    ASSERT_EQ(run(dir, "jxkey", {"-r", "k"}).status, 0);
    dir.write("f.jxd", "not looked at");
    for (const Row& row : rows) {
      SCOPED_TRACE(program + " " + row.why);
      std::vector<std::string> arguments = {"-k", "k.jxk", "f.jxd"};
      arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
      const Outcome outcome = run(dir, program, arguments);
      EXPECT_EQ(outcome.status, 2);
      EXPECT_EQ(outcome.err, program + ": " + row.why + "\n");
      EXPECT_EQ(outcome.out, "");
      EXPECT_EQ(dir.entries(), (std::vector<std::string>{"f.jxd", "k.jxk"}));
    }
  }
}

// The value after --threads is the count, never a file; the option may come anywhere and
// the last one counts. Streams made with any count decode with any other.
TEST(ThreadsTest, StreamsOfAnyCountDecodeWithAnyOther) {
  Scratch dir;
  ASSERT_EQ(run(dir, "jxkey", {"-r", "k"}).status, 0);
  const std::string plain = jxtest::random_bytes(3 * 1024 * 1024 + 4321, 16);
  for (const std::string flags : {"-F", "-Fp", "-Fi", "-Fpi"}) {
    for (const std::string encoding : {"1", "2", "8"}) {
      SCOPED_TRACE(flags + " with " + encoding + " threads");
      dir.write("1", plain);
      const Outcome encoded = run(dir, "jxenc", {flags, "--threads", encoding, "-k", "k.jxk", "1"});
      ASSERT_EQ(encoded.status, 0) << encoded.out << encoded.err;
      for (const std::string decoding : {"8", "1", "3"}) {
        const Outcome decoded = run(
            dir, "jxdec", {"--threads", "5", "-F", "-k", "k.jxk", "--threads", decoding, "1.jxd"});
        ASSERT_EQ(decoded.status, 0) << decoded.out << decoded.err;
        ASSERT_EQ(dir.read("1"), plain) << decoding;
      }
    }
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"1", "1.jxd", "k.jxk"}));
}

}  // namespace

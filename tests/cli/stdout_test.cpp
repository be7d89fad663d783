#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "harness.h"

#ifndef JX_FIXED_SEED_SHIM
#error "JX_FIXED_SEED_SHIM names the preloaded library that fixes the generator's seed"
#endif

namespace {

using jxtest::Launch;
using jxtest::Outcome;
using jxtest::random_bytes;
using jxtest::Scratch;
using jxtest::Terminal;

const std::string kPrompt = "Enter your password:";

Outcome run(const Scratch& dir, const char* program, const std::vector<std::string>& arguments,
            const Launch& launch = {}) {
  return jxtest::run(dir.path(), jxtest::program(program), arguments, launch);
}

Launch fed(const std::string& input) {
  Launch launch;
  launch.input = input;
  return launch;
}

// Every run draws the same generator seed, so equal inputs give equal streams.
Launch with_fixed_seed(const std::string& input) {
  Launch launch = fed(input);
  const char* asan = std::getenv("ASAN_OPTIONS");
  launch.environment = {
      std::string("LD_PRELOAD=") + JX_FIXED_SEED_SHIM,
      "ASAN_OPTIONS=" + (asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0"};
  return launch;
}

// A command for /bin/sh naming a built program.
std::string shell_word(const char* program) {
  std::string word = jxtest::program(program);
  word.insert(word.begin(), '\'');
  word.push_back('\'');
  return word;
}

std::string with_key(Scratch& dir) {
  EXPECT_EQ(run(dir, "jxkey", {"-r", "k"}).status, 0);
  return "k.jxk";
}

const char* const kOptionSets[] = {"-F", "-p", "-i", "-pi"};

TEST(StdoutTest, PipesRoundTripAroundTheBlockEdges) {
  Scratch dir;
  const std::string key = with_key(dir);
  const std::size_t sizes[] = {0, 1, 128, 129, 255, 256, 257, 511, 512, 513, 262144 + 300};
  for (const char* options : kOptionSets) {
    for (std::size_t size : sizes) {
      SCOPED_TRACE(std::string(options) + " " + std::to_string(size));
      const std::string plain = random_bytes(size, static_cast<unsigned>(size));
      const Outcome encoded = run(dir, "jxenc", {"-k", key, options, "--stdout"}, fed(plain));
      ASSERT_EQ(encoded.status, 0) << encoded.err;
      EXPECT_EQ(encoded.err, "");
      const Outcome decoded = run(dir, "jxdec", {"--stdout", "-k", key}, fed(encoded.out));
      EXPECT_EQ(decoded.status, 0) << decoded.err;
      EXPECT_EQ(decoded.err, "");
      EXPECT_TRUE(decoded.out == plain);
    }
  }
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"k.jxk"});
}

// The same bytes from a file, from standard input, or from a named file to standard output:
// the same stream under the same seed, and only data on standard output.
TEST(StdoutTest, APipeGetsTheStreamAFileWould) {
  Scratch dir;
  const std::string key = with_key(dir);
  const std::string plain = random_bytes(70000, 3);
  dir.write("f", plain);
  for (const char* options : kOptionSets) {
    SCOPED_TRACE(options);
    ASSERT_EQ(run(dir, "jxenc", {"-Fk", key, options, "f"}, with_fixed_seed("")).status, 0);
    const std::string stored = dir.read("f.jxd");
    const Outcome piped =
        run(dir, "jxenc", {"-Vk", key, options, "--stdout"}, with_fixed_seed(plain));
    EXPECT_EQ(piped.status, 0);
    const bool inflate = std::string(options).find('i') != std::string::npos;
    EXPECT_EQ(piped.err, std::string(inflate ? "  WARNING: inflate quadruples data size.\n\n" : "") +
                             "  PROCESSING: standard input\n");
    EXPECT_TRUE(piped.out == stored);
    const Outcome named =
        run(dir, "jxenc", {"-k", key, options, "--stdout", "f", "x.jxd"}, with_fixed_seed(""));
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(named.out == stored);
    const Outcome decoded = run(dir, "jxdec", {"-Vk", key, "--stdout", "f.jxd"});
    EXPECT_EQ(decoded.err, "  PROCESSING: f.jxd\n");
    EXPECT_TRUE(decoded.out == plain);
  }
}

TEST(StdoutTest, RefusedCommandLinesWriteNothing) {
  struct Row {
    const char* program;
    std::vector<std::string> arguments;
    std::string err;
  };
  const Row rows[] = {
      {"jxenc", {"--stdout", "a", "b"}, "jxenc: --stdout takes at most one file name (2 given)\n"},
      {"jxenc", {"-k", "k.jxk", "a", "--stdout", "b", "c"},
       "jxenc: --stdout takes at most one file name (3 given)\n"},
      {"jxdec", {"--stdout", "a.jxd", "b.jxd"},
       "jxdec: --stdout takes at most one file name (2 given)\n"},
      {"jxenc", {"--stdout", "-k"},
       "Error parsing key path: no value provided\nUsage: jxenc -k path/to/key\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.err);
    Scratch dir;
    dir.write("a", "a");
    dir.write("b", "b");
    const Outcome outcome = run(dir, row.program, row.arguments, fed("pw\npw\n"));
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, row.err);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a", "b"}));
  }
}

// A check that fails at the end comes after the bytes before it went out; a stored file is
// checked before anything goes out.
TEST(StdoutTest, DamagedStreamsEndWithStatusOne) {
  Scratch dir;
  const std::string key = with_key(dir);
  const std::string plain = random_bytes(300000, 4);
  const Outcome encoded = run(dir, "jxenc", {"-k", key, "--stdout"}, fed(plain));
  ASSERT_EQ(encoded.status, 0);
  const std::string& stream = encoded.out;
  std::string wrong_total = stream;
  wrong_total[wrong_total.size() - 3] ^= 1;  // 65536 bytes more than the blocks can hold
  const std::string damaged[] = {stream.substr(0, stream.size() - 1),
                                 stream.substr(0, stream.size() - 256), stream + "x",
                                 wrong_total};
  const std::string reason =
      "Custom { kind: InvalidData, error: \"stream is truncated or corrupted\" }\n";
  for (const std::string& bytes : damaged) {
    SCOPED_TRACE(bytes.size());
    const Outcome piped = run(dir, "jxdec", {"-k", key, "--stdout"}, fed(bytes));
    EXPECT_EQ(piped.status, 1);
    EXPECT_EQ(piped.err, reason);
    EXPECT_LE(piped.out.size(), plain.size());
    EXPECT_TRUE(plain.compare(0, piped.out.size(), piped.out) == 0);
    dir.write("s.jxd", bytes);
    const Outcome stored = run(dir, "jxdec", {"-k", key, "--stdout", "s.jxd"});
    EXPECT_EQ(stored.status, 1);
    EXPECT_EQ(stored.err, reason);
    EXPECT_EQ(stored.out.size(), 0u);
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"k.jxk", "s.jxd"}));
}

// Without a terminal, a password cannot be typed beside data on standard input; beside a
// named file it comes from standard input, its prompts on standard error.
TEST(StdoutTest, PasswordsNeverMixWithTheData) {
  Scratch dir;
  dir.write("f", "plain");
  const std::string refusal =
      ": standard input carries the data and there is no terminal to type the password on; "
      "use a key file (-k)\n";
  for (const char* program : {"jxenc", "jxdec"}) {
    SCOPED_TRACE(program);
    // What the program leaves of its standard input is read after it by cat.
    const std::string command =
        "setsid -w " + shell_word(program) + " --stdout; echo $? > status; cat > rest";
    const Outcome outcome = jxtest::run(dir.path(), "/bin/sh", {"-c", command},
                                        fed("pw\npw\nplain"));
    EXPECT_EQ(dir.read("status"), "2\n");
    EXPECT_EQ(dir.read("rest"), "pw\npw\nplain");
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, program + refusal);
    ::unlink(dir.at("status").c_str());
    ::unlink(dir.at("rest").c_str());
  }
  const Outcome encoded = jxtest::run(dir.path(), "/usr/bin/setsid",
                                      {"-w", jxtest::program("jxenc"), "--stdout", "f"},
                                      fed("pw\npw\n"));
  EXPECT_EQ(encoded.status, 0);
  EXPECT_EQ(encoded.err, kPrompt + kPrompt);
  dir.write("f.jxd", encoded.out);
  const Outcome decoded = jxtest::run(dir.path(), "/usr/bin/setsid",
                                      {"-w", jxtest::program("jxdec"), "--stdout", "f.jxd"},
                                      fed("pw\n"));
  EXPECT_EQ(decoded.status, 0);
  EXPECT_EQ(decoded.err, kPrompt);
  EXPECT_EQ(decoded.out, "plain");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"f", "f.jxd"}));
}

TEST(StdoutTest, NothingIsWrittenToATerminal) {
  Scratch dir;
  const std::string key = with_key(dir);
  dir.write("f", "plain");
  ASSERT_EQ(run(dir, "jxenc", {"-k", key, "f"}).status, 0);
  struct Row {
    const char* program;
    std::vector<std::string> arguments;
    std::string shown;
  };
  const Row rows[] = {
      {"jxenc", {"-k", key, "--stdout", "f"},
       "jxenc: refusing to write a stream to a terminal; redirect standard output\r\n"},
      {"jxenc", {"--stdout"},
       "jxenc: refusing to write a stream to a terminal; redirect standard output\r\n"},
      {"jxdec", {"--stdout", "f.jxd"},
       "jxdec: refusing to write decrypted data to a terminal; redirect standard output\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shown);
    Terminal terminal(dir.path(), jxtest::program(row.program), row.arguments);
    const Outcome outcome = terminal.finish();
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.out, row.shown);
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"f", "f.jxd", "k.jxk"}));
}

// With the data on standard input, the password is typed on the controlling terminal, unseen:
// twice to encrypt, once to decrypt.
TEST(StdoutTest, ThePasswordComesFromTheTerminal) {
  Scratch dir;
  dir.write("f", "plain");
  Terminal encoder(dir.path(), "/bin/sh",
                   {"-c", shell_word("jxenc") + " --stdout < f > f.jxd"});
  ASSERT_TRUE(encoder.wait_for(kPrompt)) << encoder.output();
  ASSERT_TRUE(encoder.wait_for_echo(false));
  encoder.type("s3cret\n");
  ASSERT_TRUE(encoder.wait_for(kPrompt + "\r\n" + kPrompt)) << encoder.output();
  ASSERT_TRUE(encoder.wait_for_echo(false));
  encoder.type("s3cret\n");
  const Outcome encoded = encoder.finish();
  EXPECT_EQ(encoded.status, 0);
  EXPECT_EQ(encoded.out, kPrompt + "\r\n" + kPrompt + "\r\n");
  EXPECT_TRUE(encoder.echo_is_on());

  Terminal decoder(dir.path(), "/bin/sh",
                   {"-c", "cat f.jxd | " + shell_word("jxdec") + " --stdout > back"});
  ASSERT_TRUE(decoder.wait_for(kPrompt)) << decoder.output();
  ASSERT_TRUE(decoder.wait_for_echo(false));
  decoder.type("s3cret\n");
  const Outcome decoded = decoder.finish();
  EXPECT_EQ(decoded.status, 0);
  EXPECT_EQ(decoded.out, kPrompt + "\r\n");
  EXPECT_EQ(dir.read("back"), "plain");
}

// A reader that stops early ends the run by SIGPIPE (or quietly with status 1 where SIGPIPE
// is ignored), with no message and no file left behind.
TEST(StdoutTest, AReaderThatGoesAwayEndsTheRunQuietly) {
  Scratch dir;
  const std::string key = with_key(dir);
  dir.write("big", random_bytes(4 << 20, 6));
  ASSERT_EQ(run(dir, "jxenc", {"-k", key, "big"}).status, 0);
  struct Row {
    const char* name;
    std::string command;
    std::string status;
  };
  const std::string enc = shell_word("jxenc") + " -k k.jxk --stdout big";
  const std::string dec = shell_word("jxdec") + " -k k.jxk --stdout < big.jxd";
  const Row rows[] = {
      {"encoder", enc, "141\n"},
      {"decoder", dec, "141\n"},
      {"encoder, SIGPIPE ignored", "trap '' PIPE; " + enc, "1\n"},
      {"decoder, SIGPIPE ignored", "trap '' PIPE; " + dec, "1\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string pipeline =
        "{ " + row.command + " 2> err; echo $? > status; } | head -c 10 > first";
    const Outcome outcome = jxtest::run(dir.path(), "/bin/sh", {"-c", pipeline});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(dir.read("status"), row.status);
    EXPECT_EQ(dir.read("err"), "");
    EXPECT_EQ(dir.read("first").size(), 10u);
    EXPECT_EQ(dir.entries(),
              (std::vector<std::string>{"big", "big.jxd", "err", "first", "k.jxk", "status"}));
  }
}

}  // namespace

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

Outcome jxkey(const Scratch& dir, const std::vector<std::string>& arguments, Launch launch = {}) {
  return jxtest::by_name::run(dir, "jxkey", arguments, launch);
}

bool table_is_permutation(const std::string& key_file) {
  std::vector<bool> seen(256, false);
  for (char entry : key_file.substr(4, 256)) seen[static_cast<unsigned char>(entry)] = true;
  return std::find(seen.begin(), seen.end(), false) == seen.end();
}

// The bytes of a text's code points, each as a big-endian 32-bit word.
std::string code_point_words(const std::u32string& text) {
  std::string words;
  for (char32_t c : text) {
    for (int shift = 24; shift >= 0; shift -= 8) words += static_cast<char>((c >> shift) & 0xFF);
  }
  return words;
}

struct Row {
  const char* name;
  std::vector<std::string> arguments;
  std::vector<std::string> files;  // entries expected afterwards besides "src" and "dir/"
  std::string out = {};
  int status = 0;
  std::string input = {};
};

TEST(JxkeyTest, CommandLines) {
  const Row rows[] = {
      {"no arguments", {}, {}, "  Usage: jxkey [-r | -f source | -i password] name\n", 2},
      {"short flag", {"-r", "k"}, {"k.jxk"}},
      {"flag after the name", {"k", "-r"}, {"k.jxk"}},
      {"long flag", {"--random", "k"}, {"k.jxk"}},
      {"--verbose holds an r", {"--verbose", "k"}, {"k.jxk"}},
      {"random wins over file", {"-rf", "src", "k"}, {"src.jxk"}},
      {"suffix always appended", {"-r", "k.jxk"}, {"k.jxk.jxk"}},
      {"into a directory", {"-r", "dir/k"}, {"dir/k.jxk"}},
      {"missing directory", {"-r", "nodir/k"}, {},
       "Cannot write key file: No such file or directory (os error 2)\n", 1},
      {"name is a directory", {"-r", "dir/sub"}, {},
       "Cannot write key file: Is a directory (os error 21)\n", 1},
      {"missing name", {"-r"}, {}, "jxkey: no NAME given\n", 2},
      {"empty argument", {"-r", "k", ""}, {}, "jxkey: argument 3 is empty\n", 2},
      {"not UTF-8", {"-r", "k\xff"}, {}, "jxkey: argument 2 is not valid UTF-8\n", 2},
      {"empty argument before any prompt", {"", "k"}, {}, "jxkey: argument 1 is empty\n", 2},
      {"file mode", {"-f", "src", "k"}, {"k.jxk"}},
      {"file wins over inline", {"-fi", "src", "k"}, {"k.jxk"}},
      {"missing source file", {"-f", "absent", "k"}, {},
       "Error: Os { code: 2, kind: NotFound, message: \"No such file or directory\" }\n", 1},
      {"directory as source", {"-f", "dir", "k"}, {}, "Error: Is a directory (os error 21)\n", 1},
      {"no source", {"-f"}, {}, "jxkey: no SOURCE given\n", 2},
      {"source but no name", {"--file", "src"}, {}, "jxkey: no NAME given\n", 2},
      {"inline", {"-i", "secret", "k"}, {"k.jxk"}},
      {"no password", {"--inline"}, {}, "jxkey: no PASSWORD given\n", 2},
      {"password but no name", {"-i", "secret"}, {}, "jxkey: no NAME given\n", 2},
      {"prompt", {"k"}, {"k.jxk"}, "Enter your password:Enter your password:", 0, "pw\npw\n"},
      {"-- sets nothing", {"--", "k"}, {"k.jxk"}, "Enter your password:Enter your password:", 0,
       "pw\npw\n"},
      {"--help finds no name after the prompts", {"--help"}, {},
       "Enter your password:Enter your password:jxkey: no NAME given\n", 2, "pw\npw\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Scratch dir;
    dir.write("src", "source bytes");
    ::mkdir(dir.at("dir").c_str(), 0755);
    ::mkdir(dir.at("dir/sub.jxk").c_str(), 0755);
    Launch launch;
    launch.input = row.input;
    Outcome outcome = jxkey(dir, row.arguments, launch);
    EXPECT_EQ(outcome.out, row.out);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(outcome.status, row.status);
    std::vector<std::string> expected{"dir/", "dir/sub.jxk/", "src"};
    for (const auto& file : row.files) {
      expected.push_back(file);
      EXPECT_EQ(dir.read(file).size(), 292u) << file;
      EXPECT_EQ(dir.mode(file), 0600u) << file;
      EXPECT_TRUE(table_is_permutation(dir.read(file))) << file;
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.entries(), expected);
  }
}

TEST(JxkeyTest, RandomKeysDifferAndReplaceTheEarlierFile) {
  Scratch dir;
  dir.write("k.jxk", std::string(1000, 'x'));
  ::chmod(dir.at("k.jxk").c_str(), 0644);
  ASSERT_EQ(jxkey(dir, {"-r", "k"}).status, 0);
  const std::string first = dir.read("k.jxk");
  ASSERT_EQ(jxkey(dir, {"-r", "k"}).status, 0);
  const std::string second = dir.read("k.jxk");
  EXPECT_EQ(first.substr(0, 4), std::string("JXK\x01"));
  EXPECT_EQ(second.size(), 292u);
  EXPECT_NE(first, second);
  EXPECT_EQ(dir.mode("k.jxk"), 0600u);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"k.jxk"});
}

// Keys that must agree: each row's two command lines write the same key file.
TEST(JxkeyTest, SameSecretSameKey) {
  struct Pair {
    const char* name;
    std::string source;  // contents of the file "src"
    std::vector<std::string> first;
    std::vector<std::string> second;
    std::string input = {};  // for a prompted run
  };
  const Pair pairs[] = {
      {"-i and --inline", "", {"-i", "pass word", "a"}, {"--inline", "pass word", "b"}},
      {"inline again", "", {"-i", "x", "a"}, {"-i", "x", "b"}},
      {"inline and prompt", "", {"-i", "pw", "a"}, {"b"}, "pw\npw\n"},
      {"CRLF entries", "", {"-i", "pw", "a"}, {"b"}, "pw\r\npw\r\n"},
      {"prompt normalises a ligature", "", {"-i", "fi", "a"}, {"b"}, "\xEF\xAC\x81\n\xEF\xAC\x81\n"},
      {"prompt normalises full-width letters", "", {"-i", "AB", "a"}, {"b"},
       "\xEF\xBC\xA1\xEF\xBC\xA2\n\xEF\xBC\xA1\xEF\xBC\xA2\n"},
      {"prompt composes an accent", "", {"-i", "\xC3\xA9", "a"}, {"b"}, "e\xCC\x81\ne\xCC\x81\n"},
      {"password is its code points", code_point_words(U"a\u00e9 \U0001F600"),
       {"-i", "a\xC3\xA9 \xF0\x9F\x98\x80", "a"}, {"-f", "src", "b"}},
      {"five bytes are eight with zeros", "abcde", {"-f", "src", "a"}, {"-f", "src8", "b"}},
      {"empty source", "", {"-f", "src", "a"}, {"-f", "src", "b"}},
  };
  for (const Pair& pair : pairs) {
    SCOPED_TRACE(pair.name);
    Scratch dir;
    dir.write("src", pair.source);
    dir.write("src8", pair.source + std::string(3, '\0'));
    Launch launch;
    launch.input = pair.input;
    ASSERT_EQ(jxkey(dir, pair.first).status, 0);
    ASSERT_EQ(jxkey(dir, pair.second, launch).status, 0);
    EXPECT_EQ(dir.read("a.jxk"), dir.read("b.jxk"));
  }
}

TEST(JxkeyTest, KeysThatMustDiffer) {
  Scratch dir;
  Launch typed;
  typed.input = "\xEF\xAC\x81\n\xEF\xAC\x81\n";
  ASSERT_EQ(jxkey(dir, {"-i", "\xEF\xAC\x81", "inline"}).status, 0);
  ASSERT_EQ(jxkey(dir, {"prompt"}, typed).status, 0);
  ASSERT_EQ(jxkey(dir, {"-i", "ab", "ab"}).status, 0);
  ASSERT_EQ(jxkey(dir, {"-i", "ba", "ba"}).status, 0);
  EXPECT_NE(dir.read("inline.jxk"), dir.read("prompt.jxk"));
  EXPECT_NE(dir.read("ab.jxk"), dir.read("ba.jxk"));
}

TEST(JxkeyTest, PromptMismatchStops) {
  Scratch dir;
  Launch launch;
  launch.input = "pw\npw \n";
  Outcome outcome = jxkey(dir, {"k"}, launch);
  EXPECT_EQ(outcome.out, "Enter your password:Enter your password:");
  EXPECT_NE(outcome.err.find("Passwords do not match\n"), std::string::npos);
  EXPECT_EQ(outcome.status, 101);
  EXPECT_TRUE(dir.entries().empty());
}

TEST(JxkeyTest, PipeFedInUnevenPiecesGivesTheKeyOfTheFile) {
  Scratch dir;
  std::string bytes;
  for (int i = 0; i < 100003; ++i) bytes += static_cast<char>(i * 31 + i / 7);
  dir.write("regular", bytes);
  ASSERT_EQ(::mkfifo(dir.at("fifo").c_str(), 0600), 0);
  std::thread writer([&] {
    int fd = ::open(dir.at("fifo").c_str(), O_WRONLY);
    std::size_t at = 0;
    for (std::size_t piece = 1; at < bytes.size(); piece = piece % 13 + 1) {
      const std::size_t n = std::min(piece, bytes.size() - at);
      if (::write(fd, bytes.data() + at, n) != static_cast<ssize_t>(n)) break;
      at += n;
      if (piece == 13) ::usleep(200);
    }
    ::close(fd);
  });
  Outcome piped = jxkey(dir, {"-f", "fifo", "piped"});
  writer.join();
  ASSERT_EQ(piped.status, 0) << piped.out;
  ASSERT_EQ(jxkey(dir, {"-f", "regular", "whole"}).status, 0);
  EXPECT_EQ(dir.read("piped.jxk"), dir.read("whole.jxk"));
}

}  // namespace

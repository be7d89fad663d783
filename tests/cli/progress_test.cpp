#include <gtest/gtest.h>

#include "harness.h"

namespace {

using jxtest::Scratch;

// A scratch directory with a key file and an input file of the given size.
struct Input {
  Scratch dir;
  explicit Input(std::size_t size) {
    EXPECT_EQ(jxtest::run(dir.path(), jxtest::program("jxkey"), {"-r", "k"}).status, 0);
    dir.write("big", std::string(size, 'x'));
  }
};

constexpr std::size_t kMeterSize = 64u << 20;

TEST(ProgressTest, MeterShowsOnATerminalAndIsCleared) {
  struct Row {
    const char* program;
    std::vector<std::string> arguments;
  };
  const Row rows[] = {
      {"jxenc", {"-k", "k.jxk", "big"}},
      {"jxdec", {"-F", "-k", "k.jxk", "big.jxd"}},
  };
  Input input(kMeterSize);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.program);
    jxtest::Terminal terminal(input.dir.path(), jxtest::program(row.program), row.arguments);
    jxtest::Outcome outcome = terminal.finish(std::chrono::seconds(120));
    EXPECT_EQ(outcome.status, 0);
    const std::string& shown = outcome.out;
    EXPECT_NE(shown.find("%"), std::string::npos) << shown;
    EXPECT_NE(shown.find(" MB/s "), std::string::npos) << shown;
    EXPECT_NE(shown.find(" left"), std::string::npos) << shown;
    const std::string cleared = "\r\033[K";
    ASSERT_GE(shown.size(), cleared.size());
    EXPECT_EQ(shown.substr(shown.size() - cleared.size()), cleared) << "the line is cleared last";
  }
}

TEST(ProgressTest, NoMeterOnPipesOrForSmallFiles) {
  Input large(kMeterSize);
  jxtest::Outcome piped =
      jxtest::run(large.dir.path(), jxtest::program("jxenc"), {"-V", "-k", "k.jxk", "big"});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out, "  PROCESSING: big\n");
  EXPECT_EQ(piped.err, "");

  Input small(kMeterSize - 1);
  jxtest::Terminal terminal(small.dir.path(), jxtest::program("jxenc"), {"-k", "k.jxk", "big"});
  jxtest::Outcome outcome = terminal.finish(std::chrono::seconds(120));
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "");
}

}  // namespace

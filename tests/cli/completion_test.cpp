#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using jxtest::Outcome;
using jxtest::Scratch;

const std::string kBash = "/bin/bash";

std::string script_path() {
  return std::string(JX_SOURCE_DIR) + "/completion/jx.bash";
}

// The text as one word for bash, in single quotes.
std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a script in a bash that reads no startup file, so nothing of the bash-completion
// package is there.
Outcome bash(const Scratch& dir, const std::string& script) {
  return jxtest::run(dir.path(), kBash, {"--noprofile", "--norc", "-c", script});
}

using jxtest::lines_of;

// Completes the word at `cursor` (the last one when negative) of a command line the way bash
// does: through the function registered for the program, with COMP_WORDS and COMP_CWORD set.
// Gives COMPREPLY in byte order. HOME is the directory, for names that begin with "~/".
std::vector<std::string> complete(const Scratch& dir, const std::vector<std::string>& words,
                                  int cursor = -1) {
  const std::size_t at = cursor < 0 ? words.size() - 1 : static_cast<std::size_t>(cursor);
  std::string list;
  for (const auto& word : words) {
    list += ' ';
    list += quoted(word);
  }
  std::string script = "HOME=$PWD\nsource ";
  script += quoted(script_path());
  script += " || exit 3\nregistration=$(complete -p ";
  script += quoted(words[0]);
  script += ") || exit 4\n";
  script += "function=${registration##*-F }; function=${function%% *}\n";
  script += "COMP_WORDS=(" + list + ")\n";
  script += "COMP_CWORD=";
  script += std::to_string(at);
  script += "\n";
  script += "COMPREPLY=()\n";
  script += "\"$function\" \"${COMP_WORDS[0]}\" \"${COMP_WORDS[COMP_CWORD]}\" ";
  script += "\"${COMP_WORDS[COMP_CWORD-1]}\" || exit 5\n";
  script += "((${#COMPREPLY[@]})) && printf '%s\\n' \"${COMPREPLY[@]}\" | LC_ALL=C sort\n";
  script += "exit 0\n";
  const Outcome outcome = bash(dir, script);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "");
  return lines_of(outcome.out);
}

bool have_bash() {
  return ::access(kBash.c_str(), X_OK) == 0;
}

TEST(CompletionTest, RegistersAFunctionForEachProgram) {
  if (!have_bash()) GTEST_SKIP() << "bash is not installed";
  Scratch dir;
  const Outcome outcome =
      bash(dir, "source " + quoted(script_path()) + " && complete -p jxkey jxenc jxview jxdec");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "");
  const std::vector<std::string> lines = lines_of(outcome.out);
  const char* programs[] = {"jxkey", "jxenc", "jxview", "jxdec"};
  ASSERT_EQ(lines.size(), 4u) << outcome.out;
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(lines[i].rfind("complete -F ", 0), 0u) << lines[i];
    const std::string tail = std::string(" ") + programs[i];
    EXPECT_EQ(lines[i].substr(lines[i].size() - tail.size()), tail) << lines[i];
  }
}

// A directory with a key file whose name holds a space, a stream file, another file and a
// subdirectory holding a stream.
class CompletionCasesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_bash()) GTEST_SKIP() << "bash is not installed";
    for (const char* name : {"a.jxk", "my key.jxk", "b.jxd", "c.txt"}) dir_.write(name, "x");
    ASSERT_EQ(bash(dir_, "mkdir sub && : > sub/d.jxd").status, 0);
  }

  Scratch dir_;
};

TEST_F(CompletionCasesTest, CompletesWhatEachArgumentTakes) {
  using Words = std::vector<std::string>;
  const Words keys = {"a.jxk", "my key.jxk", "sub"};
  const Words any = {"a.jxk", "b.jxd", "c.txt", "my key.jxk", "sub"};
  const Words directories = {"sub"};
  const Words none = {};
  struct Row {
    const char* name;
    Words words;
    Words offered;
    int cursor = -1;
  };
  const Row rows[] = {
      {"jxenc key file after -k", {"jxenc", "-k", ""}, keys},
      {"jxenc key file after --key", {"jxenc", "--key", ""}, keys},
      {"jxenc key file after a group ending in k", {"jxenc", "-Vk", ""}, keys},
      {"jxenc second k of a group", {"jxenc", "-kk", "a.jxk", ""}, keys},
      {"jxenc k of a group already served", {"jxenc", "-kV", "a.jxk", ""}, any},
      {"jxenc --key takes an option as its file", {"jxenc", "--key", "-V", ""}, any},
      {"jxenc files to encrypt", {"jxenc", ""}, any},
      {"jxenc files by prefix", {"jxenc", "c"}, {"c.txt"}},
      {"jxenc long options",
       {"jxenc", "--"},
       {"--force", "--inflate", "--key", "--partial", "--stdout", "--verbose"}},
      {"jxenc all options",
       {"jxenc", "-"},
       {"--force", "--inflate", "--key", "--partial", "--stdout", "--verbose", "-F", "-V", "-i",
        "-k", "-p"}},
      {"jxenc option by prefix", {"jxenc", "--ver"}, {"--verbose"}},
      {"jxdec stream files", {"jxdec", ""}, {"b.jxd", "sub"}},
      {"jxdec stream files in a directory", {"jxdec", "sub/"}, {"sub/d.jxd"}},
      {"jxdec stream files in the home directory", {"jxdec", "~/"}, {"~/b.jxd", "~/sub"}},
      {"jxdec key file after -k", {"jxdec", "-k", ""}, keys},
      {"jxdec --keep is a group with a k", {"jxdec", "--keep", ""}, keys},
      {"jxdec long options", {"jxdec", "--"}, {"--force", "--key", "--stdout", "--verbose"}},
      {"jxkey long options", {"jxkey", "--"}, {"--file", "--inline", "--random"}},
      {"jxkey source after -f", {"jxkey", "-f", ""}, any},
      {"jxkey source with -f after the cursor", {"jxkey", "", "-f"}, any, 1},
      {"jxkey --files sets f", {"jxkey", "--files", ""}, any},
      {"jxkey name after the source", {"jxkey", "-f", "c.txt", ""}, directories},
      {"jxkey no password offered", {"jxkey", "-i", ""}, none},
      {"jxkey name after the password", {"jxkey", "-i", "pw", ""}, directories},
      {"jxkey random wins over file", {"jxkey", "-rf", ""}, directories},
      {"jxkey name in prompt mode", {"jxkey", ""}, directories},
      {"jxkey nothing after the name", {"jxkey", "-r", "k", ""}, none},
      {"jxview the file", {"jxview", ""}, any},
      {"jxview nothing after the file", {"jxview", "a.jxk", ""}, none},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(complete(dir_, row.words, row.cursor), row.offered);
  }
}

// Real completion: an interactive bash on a terminal, with the Tab key. The command lines are
// only completed, never run.
TEST_F(CompletionCasesTest, WorksInAnInteractiveShell) {
  jxtest::Terminal shell(dir_.path(), kBash, {"--noprofile", "--norc", "-i"});
  shell.type("source " + quoted(script_path()) + "; echo re''ady\n");
  ASSERT_TRUE(shell.wait_for("ready\r\n")) << shell.output();
  // A completed name is quoted and followed by a space; a directory ends in a slash instead.
  shell.type("jxenc -k my\t");
  EXPECT_TRUE(shell.wait_for("my\\ key.jxk ")) << shell.output();
  shell.type("\x15");  // Control-U: erases the line
  shell.type("jxdec s\t");
  EXPECT_TRUE(shell.wait_for("jxdec sub/")) << shell.output();
  shell.type("d\t");
  EXPECT_TRUE(shell.wait_for("d.jxd ")) << shell.output();
  shell.type("\x15");
  shell.type("exit\n");
  shell.finish();
}

}  // namespace

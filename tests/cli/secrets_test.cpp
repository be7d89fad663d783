#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

namespace {

using jxtest::Launch;
using jxtest::Outcome;
using jxtest::Scratch;
using Clock = std::chrono::steady_clock;

Outcome run(const Scratch& dir, const std::string& program,
            const std::vector<std::string>& arguments, const Launch& launch = {}) {
  return jxtest::run(dir.path(), jxtest::program(program), arguments, launch);
}

bool is_symbolic_link(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// A symbolic link at an output's name is replaced by the output, or, without force, makes
// the output an existing file; the file it points to is never written.
TEST(SecretsTest, SymbolicLinkAtAnOutputNameIsNeverFollowed) {
  const std::string exists = "Os { code: 17, kind: AlreadyExists, message: \"File exists\" }\n";
  struct Row {
    const char* name;
    const char* program;
    std::vector<std::string> arguments;
    std::string link;  // the output's name, a link to "other"
    std::string out;
    bool replaced;  // the link gave way to the output
  };
  const Row rows[] = {
      {"jxenc -F", "jxenc", {"-F", "-k", "k.jxk", "f"}, "f.jxd", "", true},
      {"jxenc", "jxenc", {"-k", "k.jxk", "f"}, "f.jxd", exists, false},
      {"jxdec -F", "jxdec", {"-F", "-k", "k.jxk", "s.jxd"}, "s", "", true},
      {"jxdec", "jxdec", {"-k", "k.jxk", "s.jxd"}, "s", exists, false},
      {"jxkey", "jxkey", {"-r", "key"}, "key.jxk", "", true},
  };
  Scratch made;
  ASSERT_EQ(run(made, "jxkey", {"-r", "k"}).status, 0);
  made.write("s", "plain");
  ASSERT_EQ(run(made, "jxenc", {"-k", "k.jxk", "s"}).status, 0);
  for (bool dangling : {false, true}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.name) + (dangling ? ", dangling link" : ""));
      Scratch dir;
      dir.write("k.jxk", made.read("k.jxk"));
      dir.write("s.jxd", made.read("s.jxd"));
      dir.write("f", "plain");
      if (!dangling) dir.write("other", "someone else's file");
      ASSERT_EQ(::symlink("other", dir.at(row.link).c_str()), 0);
      const Outcome outcome = run(dir, row.program, row.arguments);
      EXPECT_EQ(outcome.out, row.out);
      EXPECT_EQ(outcome.status, row.replaced ? 0 : 1);
      EXPECT_EQ(is_symbolic_link(dir.at(row.link)), !row.replaced);
      if (dangling) {
        EXPECT_FALSE(dir.exists("other"));
      } else {
        EXPECT_EQ(dir.read("other"), "someone else's file");
      }
      if (row.replaced && std::string(row.program) == "jxdec") {
        EXPECT_EQ(dir.read("s"), "plain");
      }
    }
  }
}

// Which of the descriptors that the program holds on files below `directory` are not closed
// on exec, by their "flags:" lines in /proc.
std::vector<std::string> inheritable_files(pid_t pid, const std::string& directory) {
  std::vector<std::string> found;
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(fds, ignored)) {
    const std::string target = std::filesystem::read_symlink(entry.path(), ignored).string();
    if (target.rfind(directory, 0) != 0) continue;
    std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" +
                       entry.path().filename().string());
    std::string field;
    std::string flags;
    while (info >> field) {
      if (field == "flags:" && info >> flags) break;
    }
    if (flags.empty()) continue;  // closed in the meantime
    if ((std::stoul(flags, nullptr, 8) & O_CLOEXEC) == 0) found.push_back(target);
  }
  return found;
}

// The count of descriptors the program holds on files below `directory`.
std::size_t open_files(pid_t pid, const std::string& directory) {
  std::size_t count = 0;
  std::error_code ignored;
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(fds, ignored)) {
    if (std::filesystem::read_symlink(entry.path(), ignored).string().rfind(directory, 0) == 0) {
      ++count;
    }
  }
  return count;
}

// Looked at while the program waits on a fifo for the rest of its input, with its input and
// its temporary output open.
TEST(SecretsTest, FilesAreClosedOnExec) {
  ::signal(SIGPIPE, SIG_IGN);
  for (const char* program : {"jxenc", "jxdec"}) {
    SCOPED_TRACE(program);
    Scratch dir;
    ASSERT_EQ(run(dir, "jxkey", {"-r", "k"}).status, 0);
    const std::string fifo = std::string(program) == "jxenc" ? "in" : "in.jxd";
    ASSERT_EQ(::mkfifo(dir.at(fifo).c_str(), 0600), 0);
    jxtest::Started started(dir.path(), jxtest::program(program), {"-k", "k.jxk", fifo});
    const int writer = jxtest::open_fifo_writer(dir.at(fifo));
    ASSERT_GE(writer, 0);
    // A stream header, so that the decoder goes on to make its output.
    const std::string header = "JXD\x01" + std::string(33, '\0');
    ASSERT_EQ(::write(writer, header.data(), header.size()), static_cast<ssize_t>(header.size()));
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (open_files(started.pid(), dir.path() + "/") < 2 && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(open_files(started.pid(), dir.path() + "/"), 2u)
        << "the input and the temporary file";
    EXPECT_EQ(inheritable_files(started.pid(), dir.path() + "/"), std::vector<std::string>{});
    ::close(writer);
    EXPECT_EQ(started.finish().status, std::string(program) == "jxenc" ? 0 : 1);
  }
}

// A link planted at the name the program will give its temporary file is neither followed
// nor removed: the temporary file is made new, under another name. The program waits in
// opening its input, a fifo, until the link is in place.
TEST(SecretsTest, LinkPlantedAtTheTemporaryNameIsNotFollowed) {
  Scratch dir;
  ASSERT_EQ(run(dir, "jxkey", {"-r", "k"}).status, 0);
  dir.write("victim", "someone else's file");
  ASSERT_EQ(::mkfifo(dir.at("in").c_str(), 0600), 0);
  jxtest::Started started(dir.path(), jxtest::program("jxenc"), {"-k", "k.jxk", "in"});
  const std::string planted = ".in.jxd." + std::to_string(started.pid()) + "-0.tmp";
  ASSERT_EQ(::symlink("victim", dir.at(planted).c_str()), 0);
  const int writer = jxtest::open_fifo_writer(dir.at("in"));
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, "plain", 5), 5);
  ::close(writer);
  const Outcome outcome = started.finish();
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(dir.read("victim"), "someone else's file");
  EXPECT_TRUE(is_symbolic_link(dir.at(planted)));
  EXPECT_EQ(dir.read("in.jxd").size(), 45u + 256);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{planted, "in", "in.jxd", "k.jxk", "victim"}));
}

// Messages never repeat a password or a key, whatever went wrong.
TEST(SecretsTest, ErrorsNeverShowTheSecret) {
  const std::string secret = "Secret-Marker-42";
  struct Row {
    const char* name;
    const char* program;
    std::vector<std::string> arguments;
    std::string input;
  };
  const Row rows[] = {
      {"jxkey -i, key file not written", "jxkey", {"-i", secret, "nodir/k"}, ""},
      {"jxkey -i, a password not UTF-8", "jxkey", {"-i", secret + "\xff", "k"}, ""},
      {"jxkey, entries differ", "jxkey", {"k"}, secret + "\n" + secret + "!\n"},
      {"jxenc, an entry not UTF-8", "jxenc", {"f"}, secret + "\xff\n"},
      {"jxenc, an entry far too long", "jxenc", {"f"}, std::string(70000, 'x') + secret},
      {"jxenc, entries differ", "jxenc", {"f"}, secret + "\n" + secret + "?\n"},
      {"jxenc, a key file cut short", "jxenc", {"-k", "short.jxk", "f"}, ""},
      {"jxdec, entries differ", "jxdec", {"f.jxd"}, secret + "\n\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Scratch dir;
    dir.write("f", "plain");
    // A key file whose table spells the secret, cut before its last word.
    std::string key = "JXK\x01" + secret;
    for (int i = 0; static_cast<int>(key.size()) < 291; ++i) key += static_cast<char>(i);
    dir.write("short.jxk", key);
    Launch launch;
    launch.input = row.input;
    const Outcome outcome = run(dir, row.program, row.arguments, launch);
    EXPECT_NE(outcome.status, 0);
    const std::string printed = outcome.out + outcome.err;
    EXPECT_EQ(printed.find(secret), std::string::npos) << printed;
    EXPECT_EQ(printed.find("Marker"), std::string::npos) << printed;
  }
}

}  // namespace

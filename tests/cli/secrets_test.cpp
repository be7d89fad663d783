#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "jx/key.h"

namespace {

using jxtest::Launch;
using jxtest::Outcome;
using jxtest::Scratch;

using jxtest::by_name::run;

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
    jxtest::poll_until([&] { return open_files(started.pid(), dir.path() + "/") >= 2; });
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

using jxtest::process_state;

// Waits until the program runs `name` (not the test's copy before exec) and sleeps in a call.
testing::AssertionResult waits_in(pid_t pid, const std::string& name) {
  const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
  const bool waits = jxtest::poll_until([&] {
    std::error_code ignored;
    const auto running = std::filesystem::read_symlink(exe, ignored).filename().string();
    return running == name && process_state(pid) == "S";
  });
  if (waits) return testing::AssertionSuccess();
  return testing::AssertionFailure() << name << " never came to wait";
}

// The soft and hard core limits of a running process, as /proc shows them.
std::string core_limits(pid_t pid) {
  std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
  std::string line;
  while (std::getline(limits, line)) {
    if (line.rfind("Max core file size", 0) != 0) continue;
    std::istringstream fields(line.substr(std::strlen("Max core file size")));
    std::string soft, hard;
    fields >> soft >> hard;
    return soft + " " + hard;
  }
  return "no core limit line";
}

// Each program, waiting for its input, runs with no core limit left and is not dumpable:
// run as "nobody", /proc shows its files as root's. The test raises its own core limit
// first so that the program has one to drop.
TEST(SecretsTest, NoProgramCanLeaveACoreFile) {
  const passwd* nobody = ::getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const bool as_nobody = ::geteuid() == 0;  // only root can start a program as another user
  rlimit kept{};
  ASSERT_EQ(::getrlimit(RLIMIT_CORE, &kept), 0);
  ASSERT_GT(kept.rlim_max, 0u) << "the test needs a hard core limit above 0 to hand on";
  const rlimit raised{kept.rlim_max, kept.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_CORE, &raised), 0);
  struct Row {
    const char* program;
    std::vector<std::string> arguments;  // each waits on its standard input or the fifo "in"
  };
  const Row rows[] = {
      {"jxkey", {"k"}},
      {"jxenc", {"f"}},
      {"jxdec", {"f.jxd"}},
      {"jxview", {"in"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.program);
    Scratch dir;
    ASSERT_EQ(::mkfifo(dir.at("in").c_str(), 0600), 0);
    ASSERT_EQ(::chmod(dir.at("in").c_str(), 0666), 0);
    Launch launch;
    if (as_nobody) launch.user = nobody->pw_uid;
    jxtest::Started started(dir.path(), jxtest::program(row.program), row.arguments, launch);
    const int writer =
        row.arguments[0] == "in" ? jxtest::open_fifo_writer(dir.at("in")) : -1;
    ASSERT_TRUE(waits_in(started.pid(), row.program));
    EXPECT_EQ(core_limits(started.pid()), "0 0");
    if (as_nobody) {
      struct stat info {};
      ASSERT_EQ(::stat(("/proc/" + std::to_string(started.pid()) + "/mem").c_str(), &info), 0);
      EXPECT_EQ(info.st_uid, 0u) << "a dumpable process's /proc files belong to its own user";
    }
    started.send_signal(SIGKILL);
    started.finish();
    if (writer >= 0) ::close(writer);
  }
  ::setrlimit(RLIMIT_CORE, &kept);
}

// A byte string to look for in a process's memory, and how to name it in a message.
struct Needle {
  std::string label;
  std::string bytes;
};

// Where the needles lie in the readable memory of `pid`, or why it could not be read.
struct Found {
  std::vector<std::string> places;  // "label in <line of /proc/PID/maps>"
  std::string problem;
};

// Reservations this large (the sanitizers' shadow memory) hold no data of the program.
constexpr std::uint64_t kLargestRegion = std::uint64_t{1} << 32;

Found search_memory(pid_t pid, const std::vector<Needle>& needles) {
  Found found;
  const std::string proc = "/proc/" + std::to_string(pid);
  std::ifstream maps(proc + "/maps");
  const int mem = ::open((proc + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
  if (!maps || mem < 0) {
    found.problem = "cannot open " + proc + "/mem: " + std::strerror(errno) +
                    " (the test must run as root to read the program's memory)";
    if (mem >= 0) ::close(mem);
    return found;
  }
  std::size_t longest = 0;
  for (const Needle& needle : needles) longest = std::max(longest, needle.bytes.size());
  std::size_t regions_read = 0;
  std::string line;
  while (std::getline(maps, line) && found.problem.empty()) {
    std::istringstream fields(line);
    std::string range, permissions, offset, device, inode, name;
    fields >> range >> permissions >> offset >> device >> inode >> name;
    if (permissions[0] != 'r') continue;
    // The kernel's own pages for fast clock reads cannot be read through mem.
    if (name.rfind("[vvar", 0) == 0 || name == "[vsyscall]") continue;
    const std::size_t dash = range.find('-');
    const std::uint64_t start = std::stoull(range.substr(0, dash), nullptr, 16);
    const std::uint64_t end = std::stoull(range.substr(dash + 1), nullptr, 16);
    if (end - start > kLargestRegion && name.empty()) continue;
    // Read in pieces that overlap by less than a needle, so that none is cut in two unseen.
    constexpr std::uint64_t kPiece = 1 << 20;
    std::string piece;
    for (std::uint64_t at = start; at < end; at += kPiece) {
      const std::uint64_t from = at == start ? at : at - (longest - 1);
      piece.resize(std::min(end, at + kPiece) - from);
      const ssize_t n = ::pread(mem, piece.data(), piece.size(), static_cast<off_t>(from));
      if (n != static_cast<ssize_t>(piece.size())) {
        found.problem = "cannot read " + line + ": " + std::strerror(errno);
        break;
      }
      for (const Needle& needle : needles) {
        if (piece.find(needle.bytes) != std::string::npos) {
          found.places.push_back(needle.label + " in " + line);
        }
      }
    }
    ++regions_read;
  }
  ::close(mem);
  if (found.problem.empty() && regions_read == 0) found.problem = "no readable memory";
  return found;
}

// The text in UTF-16 or UTF-32 (little-endian), for ASCII text.
std::string widened(const std::string& ascii, std::size_t width) {
  std::string wide;
  for (char c : ascii) {
    wide += c;
    wide.append(width - 1, '\0');
  }
  return wide;
}

// Once encryption of a file has begun, no copy of the typed password is left anywhere in the
// program's memory: not of the entry, not of its normal form, in none of the encodings that
// reading, normalizing and hashing use. The file to encrypt is a fifo, and the program is
// looked at while it waits for more of it, its output already made.
TEST(SecretsTest, NoCopyOfTheTypedPasswordIsLeftWhenEncryptionBegins) {
  ::signal(SIGPIPE, SIG_IGN);
  // The entry has a decomposed accent, so that normalization has work to do; both plain
  // stretches around it are long enough that no other bytes match them by chance.
  const std::string before = "MemProbe-7Qz";
  const std::string after = "-Wk3Lr9vT";
  const std::string password = before + "e\xCC\x81" + after;
  Scratch input;
  input.write("typed", password + "\n" + password + "\n");
  Scratch dir;
  ASSERT_EQ(::mkfifo(dir.at("in").c_str(), 0600), 0);
  Launch launch;
  launch.stdin_path = input.at("typed");
  jxtest::Started started(dir.path(), jxtest::program("jxenc"), {"in"}, launch);
  const int writer = jxtest::open_fifo_writer(dir.at("in"));
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, "plain", 5), 5);
  jxtest::poll_until([&] {
    return open_files(started.pid(), dir.path() + "/") >= 2 && process_state(started.pid()) == "S";
  });
  ASSERT_EQ(open_files(started.pid(), dir.path() + "/"), 2u) << "the input and the output";
  ASSERT_EQ(process_state(started.pid()), "S");
  std::vector<Needle> needles;
  for (const std::string& plain : {before, after}) {
    for (std::size_t width : {1u, 2u, 4u}) {
      needles.push_back({"\"" + plain + "\" in " + std::to_string(width) + "-byte units",
                         widened(plain, width)});
    }
  }
  const Found found = search_memory(started.pid(), needles);
  ::close(writer);
  const Outcome outcome = started.finish();
  ASSERT_EQ(found.problem, "");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, "");
  EXPECT_TRUE(dir.exists("in.jxd"));
  EXPECT_EQ(found.places, std::vector<std::string>{});
}

// An input that ends before the first entry has begun gives no key at all, while an entry
// given as an empty line is the empty password, taken with a warning.
TEST(SecretsTest, AnAbsentPasswordIsRefusedAndAnEmptyOneWarned) {
  const std::string prompt = "Enter your password:";
  const std::string refused = "Cannot read password: input ended before a password was entered\n";
  const std::string warned = "Warning: the password is empty; anyone can use the key it gives\n";
  struct Row {
    const char* name;
    const char* program;
    std::vector<std::string> arguments;
    std::string input;
    bool null_input = false;
    std::string out;
    std::string err;
    int status;
    std::vector<std::string> made;  // besides the files every row starts with
  };
  const Row rows[] = {
      {"jxenc, empty key path, /dev/null", "jxenc", {"-k", "", "f"}, "", true, prompt, refused,
       1, {}},
      {"jxenc, closed pipe", "jxenc", {"f"}, "", false, prompt, refused, 1, {}},
      {"jxkey, /dev/null", "jxkey", {"k"}, "", true, prompt, refused, 1, {}},
      {"jxdec, /dev/null", "jxdec", {"e.jxd"}, "", true, prompt, refused, 1, {}},
      {"jxenc, two empty lines", "jxenc", {"f"}, "\n\n", false, prompt + prompt, warned, 0,
       {"f.jxd"}},
      {"jxenc, one empty line then the end", "jxenc", {"-k", "", "f"}, "\n", false,
       prompt + prompt, warned, 0, {"f.jxd"}},
      {"jxkey, two empty lines", "jxkey", {"k"}, "\n\n", false, prompt + prompt, warned, 0,
       {"k.jxk"}},
      {"jxdec, one empty line", "jxdec", {"e.jxd"}, "\n", false, prompt, warned, 0, {"e"}},
      {"jxenc, a line then the end: entries differ", "jxenc", {"f"}, "pw\n", false,
       prompt + prompt, "Passwords do not match\n\n", 1, {}},
  };
  Scratch made;
  made.write("e", "made with the empty password");
  ASSERT_TRUE(jx::Key::new_from_string("").export_to(made.at("empty.jxk")));
  ASSERT_EQ(run(made, "jxenc", {"-k", "empty.jxk", "e"}).status, 0);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Scratch dir;
    dir.write("f", "plain");
    dir.write("e.jxd", made.read("e.jxd"));
    Launch launch;
    launch.input = row.input;
    launch.input_is_null = row.null_input;
    const Outcome outcome = run(dir, row.program, row.arguments, launch);
    EXPECT_EQ(outcome.out, row.out);
    EXPECT_EQ(outcome.err, row.err);
    EXPECT_EQ(outcome.status, row.status);
    std::vector<std::string> expected = {"e.jxd", "f"};
    expected.insert(expected.end(), row.made.begin(), row.made.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.entries(), expected);
    if (dir.exists("k.jxk")) {
      EXPECT_EQ(dir.read("k.jxk"), made.read("empty.jxk"));
    }
    if (dir.exists("e")) {
      EXPECT_EQ(dir.read("e"), "made with the empty password");
    }
  }
}

}  // namespace

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "harness.h"

#ifndef JX_NO_ENTROPY_SHIM
#error "JX_NO_ENTROPY_SHIM names the preloaded library that hides the system's randomness"
#endif
#ifndef JX_RECORD_CALLS_SHIM
#error "JX_RECORD_CALLS_SHIM names the preloaded library that records the calls of a write"
#endif

namespace {

using jxtest::Launch;
using jxtest::Outcome;
using jxtest::Scratch;
using jxtest::Started;
using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

const std::string kTooLarge = "Os { code: 27, kind: FileTooLarge, message: \"File too large\" }\n";
const std::string kDenied =
    "Os { code: 13, kind: PermissionDenied, message: \"Permission denied\" }\n";
const std::string kNotFound =
    "Os { code: 2, kind: NotFound, message: \"No such file or directory\" }\n";
const std::string kIsADirectory =
    "Os { code: 21, kind: IsADirectory, message: \"Is a directory\" }\n";
const std::string kTruncated =
    "Custom { kind: InvalidData, error: \"stream is truncated or corrupted\" }\n";
const std::string kCannotImport = "Cannot import key file, parsing error\n";
const std::string kPrompts = "Enter your password:Enter your password:";

using jxtest::big_endian;
using jxtest::lines_of;
using jxtest::random_bytes;
using jxtest::by_name::run;

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

std::uint64_t size_of(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

// The name of a temporary output file in the directory, or "" when there is none.
std::string temporary_file_in(const Scratch& dir, const std::string& subdirectory) {
  for (const auto& name : dir.entries()) {
    const std::string prefix = subdirectory + "/.";
    if (name.rfind(prefix, 0) == 0 && name.size() > 4 &&
        name.compare(name.size() - 4, 4, ".tmp") == 0) {
      return name;
    }
  }
  return "";
}

// Writes every byte to the non-blocking fifo as the reader takes them; false on timeout.
bool feed(int fd, const std::string& bytes) {
  const auto deadline = Clock::now() + seconds(20);
  std::size_t written = 0;
  while (written < bytes.size()) {
    if (Clock::now() > deadline) return false;
    pollfd ready{fd, POLLOUT, 0};
    if (::poll(&ready, 1, 100) <= 0) continue;
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno != EAGAIN) return false;
    if (n > 0) written += static_cast<std::size_t>(n);
  }
  return true;
}

// Files that every test below starts from: a key file, and two plain files with their
// streams under that key.
struct Material {
  std::string key;
  std::string big = random_bytes(300000, 1);  // two chunks of stream: 300077 bytes
  std::string big_stream;
  std::string small = "g";
  std::string small_stream;  // 301 bytes

  Material() {
    Scratch dir;
    EXPECT_EQ(run(dir, "jxkey", {"-r", "k"}).status, 0);
    key = dir.read("k.jxk");
    dir.write("big", big);
    dir.write("g", small);
    EXPECT_EQ(run(dir, "jxenc", {"-k", "k.jxk", "big", "g"}).status, 0);
    big_stream = dir.read("big.jxd");
    small_stream = dir.read("g.jxd");
  }
};

const Material& material() {
  static const Material made;
  return made;
}

// ---------------------------------------------------------------------------------------
// Outputs that cannot be written: the file size limit cuts a write short and the next one
// fails, or, when SIGXFSZ is not ignored, the signal ends the run.

TEST(FaultTest, OutputsBeyondTheFileSizeLimitLeaveNothing) {
  const Material& m = material();
  const std::vector<std::string> encode{"-F", "-k", "k.jxk", "big", "g"};
  const std::vector<std::string> encode_inflated{"-Fi", "-k", "k.jxk", "big", "g"};
  const std::vector<std::string> decode{"-F", "-k", "k.jxk", "big.jxd", "g.jxd"};
  const std::string key_line = "Cannot write key file: File too large (os error 27)\n";
  struct Row {
    const char* name;
    const char* program;
    std::vector<std::string> arguments;
    rlim_t limit;
    std::string out;
    std::vector<std::string> made;  // outputs written besides the earlier ones
    int status = 1;
    int signal = 0;
    bool ignore_sigxfsz = true;
  };
  const Row rows[] = {
      {"jxenc, in the header, so the later file fails too", "jxenc", encode, 20,
       kTooLarge + kTooLarge, {}},
      {"jxenc, at the last header byte", "jxenc", encode, 36, kTooLarge + kTooLarge, {}},
      {"jxenc, in the first block", "jxenc", encode, 100, kTooLarge + kTooLarge, {}},
      {"jxenc, in a block of the second chunk", "jxenc", encode, 280000, kTooLarge, {"g.jxd"}},
      {"jxenc, in the footer", "jxenc", encode, 300077 - 3, kTooLarge, {"g.jxd"}},
      {"jxenc -i, in the footer (1200173 bytes)", "jxenc", encode_inflated, 1200173 - 3,
       kTooLarge, {"g.jxd"}},
      {"jxenc, SIGXFSZ ends the run", "jxenc", encode, 280000, "", {}, -1, SIGXFSZ, false},
      {"jxdec, at the first byte", "jxdec", decode, 0, kTooLarge + kTooLarge, {}},
      {"jxdec, in the first chunk", "jxdec", decode, 1000, kTooLarge, {"g"}},
      {"jxdec, in the second chunk", "jxdec", decode, 280000, kTooLarge, {"g"}},
      {"jxdec, in the last bytes", "jxdec", decode, 300000 - 3, kTooLarge, {"g"}},
      {"jxdec, SIGXFSZ ends the run", "jxdec", decode, 1000, "", {}, -1, SIGXFSZ, false},
      {"jxkey, no byte", "jxkey", {"-r", "k"}, 0, key_line, {}},
      {"jxkey, in the table", "jxkey", {"-r", "k"}, 100, key_line, {}},
      {"jxkey, at the last byte", "jxkey", {"-r", "k"}, 291, key_line, {}},
      {"jxkey, SIGXFSZ ends the run", "jxkey", {"-r", "k"}, 100, "", {}, -1, SIGXFSZ, false},
      {"jxkey, a limit the key file just fits", "jxkey", {"-r", "k"}, 292, "", {"k.jxk"}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string program = row.program;
    // The earlier output that a failed write must leave as it was.
    const std::string earlier_name =
        program == "jxenc" ? "big.jxd" : program == "jxdec" ? "big" : "k.jxk";
    const std::string earlier = "earlier " + earlier_name;
    Scratch dir;
    dir.write("big", m.big);
    dir.write("g", m.small);
    dir.write("big.jxd", m.big_stream);
    dir.write("g.jxd", m.small_stream);
    dir.write("k.jxk", m.key);
    dir.write(earlier_name, earlier);
    for (const auto& made : row.made) ::unlink(dir.at(made).c_str());

    Launch launch;
    launch.file_size_limit = row.limit;
    launch.ignore_sigxfsz = row.ignore_sigxfsz;
    const Outcome outcome = run(dir, program, row.arguments, launch);
    EXPECT_EQ(outcome.out, row.out);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_EQ(outcome.signal, row.signal);
    EXPECT_EQ(dir.entries(), sorted({"big", "big.jxd", "g", "g.jxd", "k.jxk"}))
        << "every output made, and no temporary file left";
    if (row.status != 0) {
      EXPECT_EQ(dir.read(earlier_name), earlier);
    }
    for (const auto& made : row.made) {
      if (made == "g") {
        EXPECT_EQ(dir.read(made), m.small);
      }
      if (made == "g.jxd") {
        EXPECT_EQ(dir.read(made).size() % 256, 45u);
      }
      if (made == "k.jxk") {
        EXPECT_EQ(dir.read(made).size(), 292u);
      }
    }
  }
}

// ---------------------------------------------------------------------------------------
// A run ended by a signal in the middle of a file. The input is a fifo that is never closed,
// so the program is certainly inside the file, with part of its output written, when the
// signal comes. The output has no name at all where the file system allows it, and a
// temporary name where it does not (as the preloaded library makes it).

// How far the program has written its output file in the directory, found among its open
// files; 0 while it has none open there.
std::uint64_t output_written(pid_t pid, const std::string& directory) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  std::vector<std::string> names;
  if (DIR* listing = ::opendir(fds.c_str())) {
    while (const dirent* entry = ::readdir(listing)) names.emplace_back(entry->d_name);
    ::closedir(listing);
  }
  for (const auto& name : names) {
    char target[4096];
    const ssize_t length = ::readlink((fds + "/" + name).c_str(), target, sizeof target);
    if (length <= 0) continue;
    if (std::string(target, static_cast<std::size_t>(length)).rfind(directory + "/", 0) != 0) {
      continue;
    }
    struct stat info {};
    if (::stat((fds + "/" + name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      return static_cast<std::uint64_t>(info.st_size);
    }
  }
  return 0;
}

// Waits until the program has written at least `bytes` of its output; false on timeout.
bool wait_for_output(pid_t pid, const std::string& directory, std::uint64_t bytes) {
  return jxtest::poll_until([&] { return output_written(pid, directory) >= bytes; });
}

Launch without_files_unnamed() {
  Launch launch;
  const char* asan = std::getenv("ASAN_OPTIONS");
  launch.environment = {
      std::string("LD_PRELOAD=") + JX_RECORD_CALLS_SHIM, "JX_NO_TMPFILE=1",
      "ASAN_OPTIONS=" + (asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0"};
  return launch;
}

TEST(FaultTest, SignalsInTheMiddleOfAFileLeaveNoTemporaryFile) {
  const Material& m = material();
  ::signal(SIGPIPE, SIG_IGN);
  struct Row {
    const char* name;
    const char* program;
    int signal;
    std::string fifo;     // the input, in the subdirectory "sub"
    std::string earlier;  // an earlier output there, kept as it was
    std::string bytes;    // what the fifo gives before the signal
    bool named_too = true;  // also run with a temporary name, which SIGKILL must leave
  };
  const std::string plain = random_bytes(1 << 20, 2);
  // The decoder needs a header; blocks after it may be anything.
  const std::string blocks = m.big_stream.substr(0, 37) + random_bytes(1 << 20, 3);
  const Row rows[] = {
      {"jxenc, SIGINT", "jxenc", SIGINT, "in", "in.jxd", plain},
      {"jxenc, SIGTERM", "jxenc", SIGTERM, "in", "in.jxd", plain},
      {"jxenc, SIGHUP", "jxenc", SIGHUP, "in", "in.jxd", plain},
      {"jxenc, SIGUSR1", "jxenc", SIGUSR1, "in", "in.jxd", plain},
      {"jxenc, SIGALRM", "jxenc", SIGALRM, "in", "in.jxd", plain},
      {"jxenc, SIGPROF", "jxenc", SIGPROF, "in", "in.jxd", plain},
      {"jxenc, SIGPWR", "jxenc", SIGPWR, "in", "in.jxd", plain},
      {"jxenc, SIGABRT", "jxenc", SIGABRT, "in", "in.jxd", plain},
      {"jxenc, SIGKILL", "jxenc", SIGKILL, "in", "in.jxd", plain, false},
      {"jxdec, SIGINT", "jxdec", SIGINT, "in.jxd", "in", blocks},
      {"jxdec, SIGTERM", "jxdec", SIGTERM, "in.jxd", "in", blocks},
      {"jxdec, SIGUSR2", "jxdec", SIGUSR2, "in.jxd", "in", blocks},
      {"jxdec, SIGVTALRM", "jxdec", SIGVTALRM, "in.jxd", "in", blocks},
      {"jxdec, the first real-time signal", "jxdec", SIGRTMIN, "in.jxd", "in", blocks},
      {"jxdec, SIGKILL", "jxdec", SIGKILL, "in.jxd", "in", blocks, false},
  };
  // On more than one thread, the signal may arrive on any of them.
  for (const Row& row : rows) {
    for (const std::string threads : {"1", "3"}) {
      for (const bool named : {false, true}) {
        if (named && !row.named_too) continue;
        SCOPED_TRACE(std::string(row.name) + ", " + threads + " threads" +
                     (named ? ", temporary name" : ", no name"));
        Scratch dir;
        dir.write("k.jxk", m.key);
        ASSERT_EQ(::mkdir(dir.at("sub").c_str(), 0755), 0);
        ASSERT_EQ(::mkfifo(dir.at("sub/" + row.fifo).c_str(), 0600), 0);
        dir.write("sub/" + row.earlier, "earlier output");
        Launch launch = named ? without_files_unnamed() : Launch{};
        launch.timeout = seconds(20);
        Started started(dir.path(), jxtest::program(row.program),
                        {"-F", "--threads", threads, "-k", "k.jxk", "sub/" + row.fifo}, launch);
        const int writer = jxtest::open_fifo_writer(dir.at("sub/" + row.fifo));
        ASSERT_GE(writer, 0);
        EXPECT_TRUE(feed(writer, row.bytes));
        EXPECT_TRUE(wait_for_output(started.pid(), dir.at("sub"), 100000));
        // Only the temporary file has a name beside its target while it is written.
        EXPECT_EQ(temporary_file_in(dir, "sub").empty(), !named);
        started.send_signal(row.signal);
        const Outcome outcome = started.finish();
        ::close(writer);
        EXPECT_EQ(outcome.signal, row.signal);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(dir.entries(),
                  sorted({"k.jxk", "sub/", "sub/" + row.fifo, "sub/" + row.earlier}));
        EXPECT_EQ(dir.read("sub/" + row.earlier), "earlier output");
      }
    }
  }
}

// ---------------------------------------------------------------------------------------
// Inputs of every kind, and names that look like something else.

TEST(FaultTest, UnusualInputsAndNames) {
  const Material& m = material();
  struct Row {
    const char* name;
    const char* program;
    std::vector<std::string> arguments;
    std::vector<std::string> made;
    std::string out = {};
    std::string err = {};
    int status = 0;
  };
  const std::string not_a_stream = "Custom { kind: InvalidData, error: \"not a stream file\" }\n";
  const Row rows[] = {
      {"jxdec, a directory", "jxdec", {"-k", "k.jxk", "dir.jxd"}, {}, kIsADirectory, "", 1},
      {"jxenc, /dev/null is an empty input", "jxenc", {"-k", "k.jxk", "devnull"},
       {"devnull.jxd"}},
      {"jxdec, /dev/null is no stream", "jxdec", {"-k", "k.jxk", "null.jxd"}, {}, not_a_stream,
       "", 1},
      {"jxenc, a name with a space", "jxenc", {"-V", "-k", "k.jxk", "a b"}, {"a b.jxd"},
       "  PROCESSING: a b\n"},
      {"jxenc, a name with a line feed", "jxenc", {"-k", "k.jxk", "new\nline"},
       {"new\nline.jxd"}},
      {"jxenc, a leading dash behind ./", "jxenc", {"-k", "k.jxk", "./-x"}, {"-x.jxd"}},
      {"jxenc, a leading dash makes a flag group", "jxenc", {"-k", "k.jxk", "-x"}, {}},
      {"jxenc, a key path may start with a dash", "jxenc", {"-k", "-k.jxk", "a b"}, {"a b.jxd"}},
      {"jxdec, a name with a space", "jxdec", {"-k", "k.jxk", "s p.jxd"}, {"s p"}},
      {"jxdec, a name with a line feed", "jxdec", {"-k", "k.jxk", "line\nfeed.jxd"},
       {"line\nfeed"}},
      {"jxdec, a leading dash behind ./", "jxdec", {"-k", "k.jxk", "./-s.jxd"}, {"-s"}},
      {"jxdec, a leading dash makes a flag group", "jxdec", {"-k", "k.jxk", "-s.jxd"}, {}},
      {"jxdec, a group's k takes the next argument as key path", "jxdec",
       {"-k", "k.jxk", "-kool.jxd", "s p.jxd"}, {}, kCannotImport, "", 1},
      {"jxkey -f, a leading dash behind ./", "jxkey", {"-f", "./-x", "key"}, {"key.jxk"}},
      {"jxkey -f, a leading dash makes a flag group, so the name is the source", "jxkey",
       {"-f", "-x", "key"}, {}, "Error: " + kNotFound, "", 1},
      {"jxkey -f, names with spaces", "jxkey", {"-f", "a b", "key name"}, {"key name.jxk"}},
      {"jxkey -f, /dev/null", "jxkey", {"-f", "devnull", "key"}, {"key.jxk"}},
      {"jxkey, a name with a line feed", "jxkey", {"-r", "line\nfeed"}, {"line\nfeed.jxk"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Scratch dir;
    dir.write("k.jxk", m.key);
    dir.write("-k.jxk", m.key);
    dir.write("a b", "spaced");
    dir.write("new\nline", "fed");
    dir.write("-x", "dashed");
    dir.write("s p.jxd", m.small_stream);
    dir.write("line\nfeed.jxd", m.small_stream);
    dir.write("-s.jxd", m.small_stream);
    ASSERT_EQ(::mkdir(dir.at("dir.jxd").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("/dev/null", dir.at("devnull").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/null", dir.at("null.jxd").c_str()), 0);
    std::vector<std::string> expected = dir.entries();
    const Outcome outcome = run(dir, row.program, row.arguments);
    EXPECT_EQ(outcome.out, row.out);
    EXPECT_EQ(outcome.err, row.err);
    EXPECT_EQ(outcome.status, row.status);
    expected.insert(expected.end(), row.made.begin(), row.made.end());
    EXPECT_EQ(dir.entries(), sorted(expected));
    for (const auto& made : row.made) {
      const std::string bytes = dir.read(made);
      const std::string program = row.program;
      if (program == "jxdec") {
        EXPECT_EQ(bytes, m.small);
      }
      if (program == "jxkey") {
        EXPECT_EQ(bytes.size(), 292u);
      }
      if (program == "jxenc") {
        EXPECT_EQ(bytes.size() % 256, 45u);
      }
    }
  }
}

TEST(FaultTest, NullDeviceGivesTheKeyAndStreamOfNothing) {
  Scratch dir;
  dir.write("k.jxk", material().key);
  dir.write("empty", "");
  ASSERT_EQ(::symlink("/dev/null", dir.at("null").c_str()), 0);
  ASSERT_EQ(run(dir, "jxkey", {"-f", "null", "from_null"}).status, 0);
  ASSERT_EQ(run(dir, "jxkey", {"-f", "empty", "from_empty"}).status, 0);
  EXPECT_EQ(dir.read("from_null.jxk"), dir.read("from_empty.jxk"));
  ASSERT_EQ(run(dir, "jxenc", {"-k", "k.jxk", "null"}).status, 0);
  const std::string stream = dir.read("null.jxd");
  ASSERT_EQ(stream.size(), 45u);
  EXPECT_EQ(stream.substr(37), big_endian(0));
}

// A file named on the command line that is gone by its turn: the first input is a fifo, so
// the program waits inside the first file while the second one is removed.
TEST(FaultTest, FileThatVanishesBeforeItsTurn) {
  const Material& m = material();
  ::signal(SIGPIPE, SIG_IGN);
  struct Row {
    const char* program;
    std::string fifo;
    std::string vanishing;
    std::string fed;
    std::string made;
  };
  const Row rows[] = {
      {"jxenc", "in", "g", "fifo bytes", "in.jxd"},
      {"jxdec", "in.jxd", "g.jxd", m.small_stream, "in"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.program);
    Scratch dir;
    dir.write("k.jxk", m.key);
    dir.write(row.vanishing, "here at the start");
    ASSERT_EQ(::mkfifo(dir.at(row.fifo).c_str(), 0600), 0);
    Started started(dir.path(), jxtest::program(row.program),
                    {"-k", "k.jxk", row.fifo, row.vanishing});
    const int writer = jxtest::open_fifo_writer(dir.at(row.fifo));
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::unlink(dir.at(row.vanishing).c_str()), 0);
    EXPECT_TRUE(feed(writer, row.fed));
    ::close(writer);
    const Outcome outcome = started.finish();
    EXPECT_EQ(outcome.out, kNotFound);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(dir.entries(), sorted({"k.jxk", row.fifo, row.made}));
  }
}

// ---------------------------------------------------------------------------------------
// Sizes that only fit in 64 bits. A footer that agrees with the blocks in its low 32 bits
// alone must still be refused.

TEST(FaultTest, FootersBeyond32BitsAreRefused) {
  const Material& m = material();
  const std::string body = m.big_stream.substr(0, m.big_stream.size() - 8);
  const std::uint64_t size = m.big.size();
  const std::uint64_t footers[] = {(std::uint64_t{1} << 32) + size,
                                   (std::uint64_t{1} << 32) + size - 1,
                                   (std::uint64_t{1} << 63) + size, ~std::uint64_t{0}};
  for (std::uint64_t footer : footers) {
    SCOPED_TRACE(footer);
    Scratch dir;
    dir.write("k.jxk", m.key);
    dir.write("s.jxd", body + big_endian(footer));
    const Outcome outcome = run(dir, "jxdec", {"-k", "k.jxk", "s.jxd"});
    EXPECT_EQ(outcome.out, kTruncated);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(dir.entries(), sorted({"k.jxk", "s.jxd"}));
  }
}

// Takes half a minute or more and 8 GiB of disk: run it by hand with
// --gtest_also_run_disabled_tests --gtest_filter='*Beyond4GiB*'.
TEST(FaultTest, DISABLED_RoundTripBeyond4GiB) {
  constexpr std::uint64_t kSize = (std::uint64_t{1} << 32) + 300;
  Scratch dir;
  dir.write("k.jxk", material().key);
  dir.write("huge", "head");
  const int fd = ::open(dir.at("huge").c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, "tail", 4, static_cast<off_t>(kSize - 4)), 4);
  ::close(fd);
  ASSERT_EQ(run(dir, "jxenc", {"-k", "k.jxk", "huge"}).status, 0);
  const std::uint64_t stream_size = 45 + (kSize + 255) / 256 * 256;
  EXPECT_EQ(size_of(dir.at("huge.jxd")), stream_size);
  const Outcome report = run(dir, "jxview", {"huge.jxd"});
  EXPECT_NE(report.out.find("original data size: " + std::to_string(kSize) + "\n"),
            std::string::npos);
  ASSERT_EQ(::rename(dir.at("huge").c_str(), dir.at("original").c_str()), 0);
  ASSERT_EQ(run(dir, "jxdec", {"-k", "k.jxk", "huge.jxd"}).status, 0);
  EXPECT_EQ(size_of(dir.at("huge")), kSize);
  EXPECT_EQ(std::system(("cmp -s '" + dir.at("huge") + "' '" + dir.at("original") + "'").c_str()),
            0);
}

// ---------------------------------------------------------------------------------------
// Without the operating system's randomness the generators stop the run; the programs that
// draw nothing from one still work.

Launch without_entropy() {
  Launch launch;
  const char* asan = std::getenv("ASAN_OPTIONS");
  launch.environment = {
      std::string("LD_PRELOAD=") + JX_NO_ENTROPY_SHIM,
      // A preloaded library comes before the sanitizer's runtime in gcc's sanitized builds.
      "ASAN_OPTIONS=" + (asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0"};
  return launch;
}

TEST(FaultTest, NoOperatingSystemRandomnessStopsTheGenerators) {
  const std::string stop =
      "jx::Rng::new() Cannot seed the RNG in a secure manner.\n"
      "Os { code: 2, kind: NotFound, message: \"No such file or directory\" }\n";
  struct Row {
    const char* name;
    const char* program;
    std::vector<std::string> arguments;
    std::string input = {};
    std::string out = {};
  };
  const Row rows[] = {
      {"jxkey -r", "jxkey", {"-r", "k"}},
      {"jxkey -i", "jxkey", {"-i", "password", "k"}},
      {"jxkey without arguments", "jxkey", {}},
      {"jxenc with a key file", "jxenc", {"-k", "k.jxk", "f"}},
      {"jxenc with a password", "jxenc", {"f"}, "pw\npw\n", kPrompts},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Scratch dir;
    dir.write("k.jxk", material().key);
    dir.write("f", "plain");
    Launch launch = without_entropy();
    launch.input = row.input;
    const Outcome outcome = run(dir, row.program, row.arguments, launch);
    EXPECT_EQ(outcome.out, row.out);
    EXPECT_EQ(outcome.err, stop);
    EXPECT_EQ(outcome.status, 101);
    EXPECT_EQ(dir.entries(), sorted({"f", "k.jxk"}));
  }
}

TEST(FaultTest, DecodingAndInspectingNeedNoRandomness) {
  const Material& m = material();
  Scratch dir;
  dir.write("k.jxk", m.key);
  dir.write("g.jxd", m.small_stream);
  const Outcome decoded = run(dir, "jxdec", {"-k", "k.jxk", "g.jxd"}, without_entropy());
  EXPECT_EQ(decoded.err, "");
  EXPECT_EQ(decoded.status, 0);
  EXPECT_EQ(dir.read("g"), m.small);
  const Outcome viewed = run(dir, "jxview", {"k.jxk"}, without_entropy());
  EXPECT_EQ(viewed.err, "");
  EXPECT_EQ(viewed.status, 0);
  EXPECT_EQ(viewed.out, run(dir, "jxview", {"k.jxk"}).out);
}

// ---------------------------------------------------------------------------------------
// Permission errors, for a user that the permission bits do stop: root runs the programs
// as "nobody".

TEST(FaultTest, PermissionErrorsOfAnUnprivilegedUser) {
  const Material& m = material();
  const std::string key_denied = "Cannot write key file: Permission denied (os error 13)\n";
  const passwd* nobody = ::getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  struct Row {
    const char* name;
    const char* program;
    std::vector<std::string> arguments;
    std::string out;
    std::vector<std::string> made = {};
    int status = 1;
  };
  const Row rows[] = {
      {"jxenc, an unreadable input, the next still done", "jxenc",
       {"-k", "open.jxk", "secret", "f"}, kDenied, {"f.jxd"}},
      {"jxenc, an unwritable directory", "jxenc", {"-k", "open.jxk", "ro/f"}, kDenied},
      {"jxenc, an unreadable key file", "jxenc", {"-k", "k.jxk", "f"}, kCannotImport},
      {"jxdec, an unreadable stream, the next still done", "jxdec",
       {"-k", "open.jxk", "secret.jxd", "h.jxd"}, kDenied, {"h"}},
      {"jxdec, an unwritable directory", "jxdec", {"-k", "open.jxk", "ro/g.jxd"}, kDenied},
      {"jxdec, an unreadable key file", "jxdec", {"-k", "k.jxk", "h.jxd"}, kCannotImport},
      {"jxkey -f, an unreadable source", "jxkey", {"-f", "secret", "key"}, "Error: " + kDenied},
      {"jxkey, an unwritable directory", "jxkey", {"-r", "ro/key"}, key_denied},
      {"jxview, an unreadable file", "jxview", {"k.jxk"},
       "libJX file inspection utility (1.0.0)\n\nCannot open file " + kDenied},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Scratch dir;
    ASSERT_EQ(::mkdir(dir.at("ro").c_str(), 0755), 0);
    const std::pair<const char*, std::string> files[] = {
        {"k.jxk", m.key},   {"open.jxk", m.key},       {"f", "plain"},
        {"h.jxd", m.small_stream}, {"secret", "plain"}, {"secret.jxd", m.small_stream},
        {"ro/f", "plain"}, {"ro/g.jxd", m.small_stream}};
    for (const auto& [name, bytes] : files) {
      dir.write(name, bytes);
      const std::string file = name;
      const bool unreadable = file == "k.jxk" || file.rfind("secret", 0) == 0;
      ::chmod(dir.at(file).c_str(), unreadable ? 0 : 0644);
    }
    ::chmod(dir.at("ro").c_str(), 0555);
    std::vector<std::string> expected = dir.entries();
    Launch launch;
    if (::geteuid() == 0) launch.user = nobody->pw_uid;
    const Outcome outcome = run(dir, row.program, row.arguments, launch);
    EXPECT_EQ(outcome.out, row.out);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(outcome.status, row.status);
    expected.insert(expected.end(), row.made.begin(), row.made.end());
    EXPECT_EQ(dir.entries(), sorted(expected));
  }
}

// ---------------------------------------------------------------------------------------

// "--" is a flag group without letters, not the end of the options.
TEST(FaultTest, DoubleDashIsAFlagGroup) {
  Scratch dir;
  dir.write("f", "plain");
  Launch typed;
  typed.input = "pw\npw\n";
  const Outcome encoded = run(dir, "jxenc", {"--", "f"}, typed);
  EXPECT_EQ(encoded.out, kPrompts);
  EXPECT_EQ(encoded.status, 0);
  ASSERT_EQ(::rename(dir.at("f").c_str(), dir.at("original").c_str()), 0);
  const Outcome decoded = run(dir, "jxdec", {"--", "f.jxd"}, typed);
  EXPECT_EQ(decoded.out, "Enter your password:");
  EXPECT_EQ(decoded.status, 0);
  EXPECT_EQ(dir.read("f"), "plain");
}

// A report or progress line that cannot be written turns success into status 1.
TEST(FaultTest, StandardOutputThatCannotBeWritten) {
  const Material& m = material();
  struct Row {
    const char* name;
    const char* program;
    std::vector<std::string> arguments;
    std::vector<std::string> made;
    std::string err;
    int status = 1;
  };
  const Row rows[] = {
      {"jxview report", "jxview", {"k.jxk"}, {}, "jxview: cannot write standard output\n"},
      {"jxview stopped report", "jxview", {"g"}, {}, "jxview: cannot write standard output\n"},
      {"jxenc progress lines", "jxenc", {"-V", "-k", "k.jxk", "g"}, {"g.jxd"},
       "jxenc: cannot write standard output\n"},
      {"jxenc error line", "jxenc", {"-k", "k.jxk", "absent", "g"}, {"g.jxd"},
       "jxenc: cannot write standard output\n"},
      {"jxdec progress lines", "jxdec", {"-V", "-k", "k.jxk", "s.jxd"}, {"s"},
       "jxdec: cannot write standard output\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Scratch dir;
    dir.write("k.jxk", m.key);
    dir.write("g", m.small);
    dir.write("s.jxd", m.small_stream);
    std::vector<std::string> expected = dir.entries();
    Launch launch;
    launch.stdout_path = "/dev/full";
    const Outcome outcome = run(dir, row.program, row.arguments, launch);
    EXPECT_EQ(outcome.err, row.err);
    EXPECT_EQ(outcome.status, row.status);
    expected.insert(expected.end(), row.made.begin(), row.made.end());
    EXPECT_EQ(dir.entries(), sorted(expected));
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Outputs that survive a crash: each file's data reach the disk before the file takes its
// name, and the directory before the program ends. The preloaded library records the calls.

Launch recording_calls(const std::string& log, bool named) {
  Launch launch = named ? without_files_unnamed() : Launch{};
  if (!named) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    launch.environment = {
        std::string("LD_PRELOAD=") + JX_RECORD_CALLS_SHIM,
        "ASAN_OPTIONS=" + (asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0"};
  }
  launch.environment.push_back("JX_CALL_LOG=" + log);
  return launch;
}

std::string inode_of(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? std::to_string(info.st_ino) : "none";
}

// The position of the first line that is `line`, or of the end when none is.
std::ptrdiff_t position_of(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) - lines.begin();
}

TEST(FaultTest, DataAreFlushedBeforeTheNameAndTheDirectoryBeforeTheEnd) {
  const Material& m = material();
  struct Row {
    const char* name;
    const char* program;
    std::vector<std::string> arguments;
    std::vector<std::string> outputs;
  };
  const Row rows[] = {
      {"jxkey, a new key file", "jxkey", {"-r", "new"}, {"new.jxk"}},
      {"jxkey, a key file replaced", "jxkey", {"-r", "old"}, {"old.jxk"}},
      {"jxenc, two new streams", "jxenc", {"-k", "k.jxk", "big", "g"}, {"big.jxd", "g.jxd"}},
      {"jxenc -F, a stream replaced", "jxenc", {"-F", "-k", "k.jxk", "g", "h"},
       {"g.jxd", "h.jxd"}},
      {"jxdec, two new files", "jxdec", {"-k", "k.jxk", "s.jxd", "t.jxd"}, {"s", "t"}},
      {"jxdec -F, a file replaced", "jxdec", {"-F", "-k", "k.jxk", "u.jxd"}, {"u"}},
  };
  for (const Row& row : rows) {
    for (const bool named : {false, true}) {
      SCOPED_TRACE(std::string(row.name) + (named ? ", temporary name" : ", no name"));
      Scratch dir;
      Scratch logs;
      dir.write("k.jxk", m.key);
      dir.write("old.jxk", "old key");
      dir.write("big", m.big);
      dir.write("g", m.small);
      dir.write("h", "h");
      dir.write("h.jxd", "old stream");
      dir.write("s.jxd", m.small_stream);
      dir.write("t.jxd", m.small_stream);
      dir.write("u.jxd", m.small_stream);
      dir.write("u", "old plain");
      std::vector<std::string> expected = dir.entries();
      const Outcome outcome = run(dir, row.program, row.arguments,
                                  recording_calls(logs.at("calls"), named));
      EXPECT_EQ(outcome.out, "");
      EXPECT_EQ(outcome.status, 0);
      expected.insert(expected.end(), row.outputs.begin(), row.outputs.end());
      std::sort(expected.begin(), expected.end());
      expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
      EXPECT_EQ(dir.entries(), expected);

      const std::vector<std::string> calls = lines_of(logs.read("calls"));
      std::ptrdiff_t last_named = 0;
      for (const auto& output : row.outputs) {
        SCOPED_TRACE(output);
        const std::string inode = inode_of(dir.at(output));
        const auto flushed = position_of(calls, "data " + inode);
        const auto named_at = position_of(calls, "name " + inode + " " + output);
        EXPECT_LT(named_at, std::ssize(calls));
        EXPECT_LT(flushed, named_at);
        last_named = std::max(last_named, named_at);
      }
      const auto directory_flushed = position_of(calls, "directory " + inode_of(dir.path()));
      EXPECT_LT(last_named, directory_flushed);
      EXPECT_LT(directory_flushed, std::ssize(calls));
      EXPECT_EQ(calls.empty() ? "" : calls.back(), "exit");
    }
  }
}

// A large output is sent on its way to disk while it is being written, so that the flush
// before its name has only the tail left to wait for.
TEST(FaultTest, LargeOutputsGoToDiskWhileTheyAreWritten) {
  Scratch dir;
  dir.write("k.jxk", material().key);
  dir.write("big", random_bytes(9 << 20, 2));
  struct Row {
    const char* program;
    std::vector<std::string> arguments;
    const char* output;
  };
  const Row rows[] = {
      {"jxenc", {"--threads", "1", "-k", "k.jxk", "big"}, "big.jxd"},
      {"jxenc", {"-F", "--threads", "2", "-k", "k.jxk", "big"}, "big.jxd"},
      {"jxdec", {"-F", "--threads", "1", "-k", "k.jxk", "big.jxd"}, "big"},
      {"jxdec", {"-F", "--threads", "2", "-k", "k.jxk", "big.jxd"}, "big"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.program + (" --threads " + row.arguments[row.arguments.size() - 4]));
    Scratch logs;
    const Outcome outcome =
        run(dir, row.program, row.arguments, recording_calls(logs.at("calls"), false));
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const std::vector<std::string> calls = lines_of(logs.read("calls"));
    const std::string inode = inode_of(dir.at(row.output));
    const auto sent = std::count(calls.begin(), calls.end(), "writeback " + inode);
    EXPECT_GE(sent, 2);
    EXPECT_LT(position_of(calls, "writeback " + inode), position_of(calls, "data " + inode));
  }
}

// A directory moved while a file is written into it: the output and any temporary name
// follow the directory, and nothing is left in it when the file fails.
TEST(FaultTest, OutputsFollowTheirDirectoryWhenItMoves) {
  const Material& m = material();
  ::signal(SIGPIPE, SIG_IGN);
  const std::string plain = random_bytes(1 << 20, 4);
  const std::string blocks = m.big_stream.substr(0, 37) + random_bytes(1 << 20, 5);
  std::string stream;
  {
    Scratch dir;
    dir.write("k.jxk", m.key);
    dir.write("plain", plain);
    ASSERT_EQ(run(dir, "jxenc", {"-k", "k.jxk", "plain"}).status, 0);
    stream = dir.read("plain.jxd");
  }
  struct Row {
    const char* name;
    const char* program;
    std::string fifo;
    std::string bytes;   // fed in two halves around the move
    std::string made;    // the output in the moved directory, "" when the file fails
    std::string out;
  };
  const Row rows[] = {
      {"jxenc, the stream is made", "jxenc", "in", plain, "in.jxd", ""},
      {"jxdec, the plain file is made", "jxdec", "in.jxd", stream, "in", ""},
      {"jxdec, the stream is corrupt", "jxdec", "in.jxd", blocks, "", kTruncated},
  };
  for (const Row& row : rows) {
    for (const bool named : {false, true}) {
      SCOPED_TRACE(std::string(row.name) + (named ? ", temporary name" : ", no name"));
      Scratch dir;
      dir.write("k.jxk", m.key);
      ASSERT_EQ(::mkdir(dir.at("d").c_str(), 0755), 0);
      ASSERT_EQ(::mkfifo(dir.at("d/" + row.fifo).c_str(), 0600), 0);
      Launch launch = named ? without_files_unnamed() : Launch{};
      launch.timeout = seconds(20);
      Started started(dir.path(), jxtest::program(row.program), {"-k", "k.jxk", "d/" + row.fifo},
                      launch);
      const int writer = jxtest::open_fifo_writer(dir.at("d/" + row.fifo));
      ASSERT_GE(writer, 0);
      const std::size_t half = 600000;
      EXPECT_TRUE(feed(writer, row.bytes.substr(0, half)));
      EXPECT_TRUE(wait_for_output(started.pid(), dir.at("d"), 100000));
      ASSERT_EQ(::rename(dir.at("d").c_str(), dir.at("e").c_str()), 0);
      EXPECT_TRUE(feed(writer, row.bytes.substr(half)));
      ::close(writer);
      const Outcome outcome = started.finish();
      EXPECT_EQ(outcome.out, row.out);
      EXPECT_EQ(outcome.status, row.made.empty() ? 1 : 0);
      std::vector<std::string> expected{"e/", "e/" + row.fifo, "k.jxk"};
      if (!row.made.empty()) expected.push_back("e/" + row.made);
      EXPECT_EQ(dir.entries(), sorted(expected));
      if (row.made == "in") {
        EXPECT_EQ(dir.read("e/in"), plain);
      }
      if (row.made == "in.jxd") {
        EXPECT_EQ(size_of(dir.at("e/in.jxd")), 45u + plain.size());
      }
    }
  }
}

// ---------------------------------------------------------------------------------------
// Too little memory: whatever allocation fails, the program ends with status 1 and a
// message, and leaves no file behind. The limits swept rise in small steps from too little
// to start the program to enough for the whole run.

TEST(FaultTest, LackOfMemoryIsReportedAndLeavesNothing) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers need far more address space than any limit here";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  GTEST_SKIP() << "the sanitizers need far more address space than any limit here";
#endif
#endif
  const Material& m = material();
  const std::string out_of_memory =
      "Os { code: 12, kind: OutOfMemory, message: \"Cannot allocate memory\" }\n";
  struct Row {
    const char* program;
    std::vector<std::string> arguments;
    std::string made;
  };
  const Row rows[] = {
      {"jxenc", {"-k", "k.jxk", "big"}, "big.jxd"},
      {"jxenc", {"-F", "-k", "k.jxk", "g"}, "g.jxd"},
      {"jxdec", {"-k", "k.jxk", "big.jxd"}, "big"},
      {"jxdec", {"-F", "-k", "k.jxk", "g.jxd"}, "g"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.program) + " " + row.arguments[0]);
    // What a file needs is allocated once per run, before any output exists, so a lack of
    // memory is mostly met before the first file; either way it must be reported cleanly.
    int refused = 0;
    bool enough = false;
    bool started = false;
    for (rlim_t kibibytes = 16 << 10; kibibytes <= 128 << 10 && !enough; kibibytes += 256) {
      SCOPED_TRACE(std::to_string(kibibytes) + " KiB");
      Scratch dir;
      dir.write("k.jxk", m.key);
      if (row.program == std::string("jxenc")) {
        dir.write("big", m.big);
        dir.write("g", m.small);
        dir.write("g.jxd", "earlier");
      } else {
        dir.write("big.jxd", m.big_stream);
        dir.write("g.jxd", m.small_stream);
        dir.write("g", "earlier");
      }
      const std::vector<std::string> before = dir.entries();
      Launch launch;
      launch.address_space_limit = kibibytes << 10;
      const Outcome outcome = run(dir, row.program, row.arguments, launch);
      if (outcome.status == 127) continue;  // too little for the loader to start the program
      // Just above that, the C++ runtime may start without the memory it keeps for
      // exceptions, and then cannot throw one.
      const bool runtime_short = outcome.signal == SIGABRT &&
                                 outcome.err == "terminate called without an active exception\n";
      if (!started && runtime_short) continue;
      started = true;
      EXPECT_EQ(outcome.signal, 0) << outcome.err;
      if (outcome.status == 0) {
        enough = true;
        std::vector<std::string> after = before;
        after.push_back(row.made);
        std::sort(after.begin(), after.end());
        after.erase(std::unique(after.begin(), after.end()), after.end());
        EXPECT_EQ(dir.entries(), after);
        continue;
      }
      EXPECT_EQ(outcome.status, 1) << outcome.err;
      EXPECT_EQ(dir.entries(), before);
      ++refused;
      if (outcome.out == out_of_memory) {
        EXPECT_EQ(outcome.err, "");
      } else {
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, std::string(row.program) + ": out of memory\n");
      }
      if (row.made == "g" || row.made == "g.jxd") {
        EXPECT_EQ(dir.read(row.made), "earlier");
      }
    }
    EXPECT_GT(refused, 0);
    EXPECT_TRUE(enough);
  }
}

// ---------------------------------------------------------------------------------------
// Inputs that must not make the program wait or write in vain.

TEST(FaultTest, FifoInputWithAnExistingOutputIsRefusedAtOnce) {
  const std::string exists = "Os { code: 17, kind: AlreadyExists, message: \"File exists\" }\n";
  struct Row {
    const char* program;
    std::string fifo;
    std::string existing;
  };
  const Row rows[] = {{"jxenc", "p", "p.jxd"}, {"jxdec", "q.jxd", "q"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.program);
    Scratch dir;
    dir.write("k.jxk", material().key);
    ASSERT_EQ(::mkfifo(dir.at(row.fifo).c_str(), 0600), 0);
    dir.write(row.existing, "earlier");
    Launch launch;
    launch.timeout = seconds(20);  // a program that waits for the fifo's writer is killed
    const Outcome outcome = run(dir, row.program, {"-k", "k.jxk", row.fifo}, launch);
    EXPECT_EQ(outcome.out, exists);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(dir.entries(), sorted({"k.jxk", row.fifo, row.existing}));
    EXPECT_EQ(dir.read(row.existing), "earlier");
  }
}

// A stream whose footer no stream of its size can have is refused before a byte is decoded:
// with a file size limit of nothing, any write would fail as too large instead.
TEST(FaultTest, FooterThatCannotMatchTheSizeIsRefusedBeforeAnyOutput) {
  const Material& m = material();
  const std::string header = m.big_stream.substr(0, 37);
  constexpr std::uint64_t kBlocks = std::uint64_t{1} << 22;  // 1 GiB of blocks
  struct Row {
    const char* name;
    std::uint64_t size;
    std::uint64_t footer;
  };
  const Row rows[] = {
      {"the largest footer", 45 + kBlocks * 256, ~std::uint64_t{0}},
      {"one byte more than the blocks hold", 45 + kBlocks * 256, kBlocks * 256 + 1},
      {"a last block with nothing in it", 45 + kBlocks * 256, (kBlocks - 1) * 256},
      {"a size that is not whole blocks", 46 + kBlocks * 256, kBlocks * 256},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Scratch dir;
    dir.write("k.jxk", m.key);
    dir.write("s.jxd", header);
    ASSERT_EQ(::truncate(dir.at("s.jxd").c_str(), static_cast<off_t>(row.size)), 0);
    const int fd = ::open(dir.at("s.jxd").c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const std::string footer = big_endian(row.footer);
    ASSERT_EQ(::pwrite(fd, footer.data(), 8, static_cast<off_t>(row.size - 8)), 8);
    ::close(fd);
    Launch launch;
    launch.file_size_limit = 0;
    launch.ignore_sigxfsz = true;
    const Outcome outcome = run(dir, "jxdec", {"-k", "k.jxk", "s.jxd"}, launch);
    EXPECT_EQ(outcome.out, kTruncated);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(dir.entries(), sorted({"k.jxk", "s.jxd"}));
  }
}

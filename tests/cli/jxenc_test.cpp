#include <gtest/gtest.h>
#include <sys/stat.h>

#include "harness.h"

namespace {

using jxtest::Launch;
using jxtest::Outcome;
using jxtest::Scratch;

Outcome jxenc(const Scratch& dir, const std::vector<std::string>& arguments, Launch launch = {}) {
  return jxtest::by_name::run(dir, "jxenc", arguments, launch);
}

// A scratch directory holding a key file k.jxk and a few inputs.
struct Workspace {
  Scratch dir;
  Workspace() {
    EXPECT_EQ(jxtest::run(dir.path(), jxtest::program("jxkey"), {"-r", "k"}).status, 0);
    dir.write("f", std::string(1000, 'f'));
    dir.write("g", "g");
    dir.write("x.JXD", "upper case suffix");
    dir.write("zero.jxk", std::string("JXK\x01", 4) + std::string(288, '\0'));
    dir.write("short.jxk", dir.read("k.jxk").substr(0, 291));
    ::mkdir(dir.at("d").c_str(), 0755);
  }
  std::vector<std::string> entries_with(std::vector<std::string> made) const {
    std::vector<std::string> all{"d/", "f", "g", "k.jxk", "short.jxk", "x.JXD", "zero.jxk"};
    all.insert(all.end(), made.begin(), made.end());
    std::sort(all.begin(), all.end());
    return all;
  }
};

const std::string kPrompts = "Enter your password:Enter your password:";
const std::string kKeyPathError =
    "Error parsing key path: no value provided\nUsage: jxenc -k path/to/key\n";
const std::string kNotFound =
    "Os { code: 2, kind: NotFound, message: \"No such file or directory\" }\n";

struct Row {
  const char* name;
  std::vector<std::string> arguments;
  std::vector<std::string> made;  // stream files expected afterwards
  std::string out = {};
  std::string err = {};
  int status = 0;
  std::string input = {};
  int options_byte = 0;          // of every stream made
};

TEST(JxencTest, CommandLines) {
  const Row rows[] = {
      {"key file", {"-k", "k.jxk", "f"}, {"f.jxd"}},
      {"long options", {"--key", "k.jxk", "--verbose", "--partial", "--inflate", "f"}, {"f.jxd"},
       "  WARNING: inflate quadruples data size.\n\n  PROCESSING: f\n", "", 0, "", 3},
      {"verbose", {"-V", "-k", "k.jxk", "f", "g"}, {"f.jxd", "g.jxd"},
       "  PROCESSING: f\n  PROCESSING: g\n"},
      {"k then V in one group", {"-kV", "k.jxk", "f"}, {"f.jxd"}, "  PROCESSING: f\n"},
      {"V then k in one group", {"-Vk", "k.jxk", "f"}, {"f.jxd"}, "  PROCESSING: f\n"},
      {"warning before processing", {"-iV", "-k", "k.jxk", "f"}, {"f.jxd"},
       "  WARNING: inflate quadruples data size.\n\n  PROCESSING: f\n", "", 0, "", 2},
      {"partial", {"-p", "-k", "k.jxk", "f"}, {"f.jxd"}, "", "", 0, "", 1},
      {"reported skip", {"-V", "a.jxd", "-k", "k.jxk", "g"}, {"g.jxd"},
       "Ignoring : a.jxd\n  PROCESSING: g\n"},
      {"silent skip", {"a.jxd", "-V", "-k", "k.jxk", "g"}, {"g.jxd"}, "  PROCESSING: g\n"},
      {"suffix test is case-sensitive", {"-k", "k.jxk", "x.JXD"}, {"x.JXD.jxd"}},
      {"no value for -k", {"-V", "-k"}, {}, "", kKeyPathError, 2},
      {"no value for --key", {"f", "--key"}, {}, "", kKeyPathError, 2},
      {"each k takes one more", {"-kk", "k.jxk"}, {}, "", kKeyPathError, 2},
      {"missing key file", {"-k", "absent.jxk", "f"}, {}, "Cannot import key file, parsing error\n",
       "", 1},
      {"short key file", {"-k", "short.jxk", "f"}, {}, "Cannot import key file, parsing error\n",
       "", 1},
      {"table not a permutation", {"-k", "zero.jxk", "f"}, {},
       "Cannot import key file, parsing error\n", "", 1},
      {"missing input, next still done", {"-k", "k.jxk", "absent", "g"}, {"g.jxd"}, kNotFound, "",
       1},
      {"directory input", {"-k", "k.jxk", "d"}, {},
       "Os { code: 21, kind: IsADirectory, message: \"Is a directory\" }\n", "", 1},
      {"empty argument", {"-k", "k.jxk", "", "f"}, {}, "", "jxenc: argument 3 is empty\n", 2},
      {"not UTF-8", {"-k", "k.jxk", "f\xC3"}, {}, "", "jxenc: argument 3 is not valid UTF-8\n", 2},
      {"empty key path asks for the password", {"-k", "", "f"}, {"f.jxd"}, kPrompts, "", 0,
       "pw\npw\n"},
      {"no arguments asks and ends", {}, {}, kPrompts, "", 0, "pw\npw\n"},
      {"verbose without files", {"-V"}, {}, kPrompts, "", 0, "pw\npw\n"},
      {"--help holds a p", {"--help", "f"}, {"f.jxd"}, kPrompts, "", 0, "pw\npw\n", 1},
      {"passwords differ", {"f"}, {}, kPrompts, "Passwords do not match\n\n", 1, "pw\nPW\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Workspace space;
    Launch launch;
    launch.input = row.input;
    Outcome outcome = jxenc(space.dir, row.arguments, launch);
    EXPECT_EQ(outcome.out, row.out);
    EXPECT_EQ(outcome.err, row.err);
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_EQ(space.dir.entries(), space.entries_with(row.made));
    for (const auto& made : row.made) {
      const std::string stream = space.dir.read(made);
      ASSERT_GE(stream.size(), 45u);
      EXPECT_EQ(stream.substr(0, 4), std::string("JXD\x01", 4));
      EXPECT_EQ(stream[4], row.options_byte);
      EXPECT_EQ(space.dir.mode(made), 0644u) << "0666 less the umask of 022";
    }
  }
}

TEST(JxencTest, ExistingStreamIsKeptWithoutForceAndReplacedWithIt) {
  Workspace space;
  space.dir.write("f.jxd", "earlier stream");
  Outcome refused = jxenc(space.dir, {"-k", "k.jxk", "f", "g"});
  EXPECT_EQ(refused.out, "Os { code: 17, kind: AlreadyExists, message: \"File exists\" }\n");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(space.dir.read("f.jxd"), "earlier stream");
  EXPECT_EQ(space.dir.entries(), space.entries_with({"f.jxd", "g.jxd"}));

  Outcome forced = jxenc(space.dir, {"-F", "-k", "k.jxk", "f"});
  EXPECT_EQ(forced.out, "");
  EXPECT_EQ(forced.status, 0);
  EXPECT_EQ(space.dir.read("f.jxd").size(), 45u + 4 * 256);
  EXPECT_EQ(space.dir.entries(), space.entries_with({"f.jxd", "g.jxd"}));
}

TEST(JxencTest, EveryRunDrawsFreshModifiers) {
  Workspace space;
  ASSERT_EQ(jxenc(space.dir, {"-k", "k.jxk", "f"}).status, 0);
  const std::string first = space.dir.read("f.jxd");
  ASSERT_EQ(jxenc(space.dir, {"-F", "-k", "k.jxk", "f"}).status, 0);
  EXPECT_NE(first.substr(5, 32), space.dir.read("f.jxd").substr(5, 32));
}

TEST(JxencTest, FailedWriteLeavesNothingAndGoesOn) {
  Workspace space;
  space.dir.write("big", std::string(300000, 'b'));
  space.dir.write("big.jxd.keep", "");
  Launch launch;
  launch.file_size_limit = 100000;
  launch.ignore_sigxfsz = true;
  Outcome outcome = jxenc(space.dir, {"-k", "k.jxk", "big", "g"}, launch);
  EXPECT_EQ(outcome.out, "Os { code: 27, kind: FileTooLarge, message: \"File too large\" }\n");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(space.dir.entries(), space.entries_with({"big", "big.jxd.keep", "g.jxd"}));
}

}  // namespace

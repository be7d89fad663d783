#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using jxtest::Outcome;
using jxtest::Scratch;

std::string page_path(const std::string& program) {
  return std::string(JX_SOURCE_DIR) + "/man/" + program + ".1";
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

using jxtest::lines_of;

// The text with every run of white space made one space, so that a message can be found in a
// page however the page's filling broke and stretched its lines.
std::string squeezed(const std::string& text) {
  std::string out;
  for (char c : text) {
    const bool space = std::isspace(static_cast<unsigned char>(c)) != 0;
    if (space && (out.empty() || out.back() == ' ')) continue;
    out += space ? ' ' : c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The full path of a program found on PATH, or nothing.
std::string on_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream directories(path ? path : "/usr/bin:/bin");
  for (std::string directory; std::getline(directories, directory, ':');) {
    const std::string candidate = directory + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// What a manual page must show of its program.
struct Page {
  const char* program;
  std::vector<std::string> options;   // every option, long and short
  std::vector<std::string> headings;  // beyond the sections every page has
};

const Page kPages[] = {
    {"jxkey", {"--random", "--file", "--inline", "-r", "-f", "-i"}, {"   Key file layout"}},
    {"jxenc",
     {"--key", "--force", "--verbose", "--partial", "--inflate", "--stdout", "--threads", "-k", "-F",
      "-V", "-p", "-i"},
     {"   Stream file layout"}},
    {"jxview", {}, {"REPORT FORMATS", "   Stream report", "   Key report", "FILE FORMATS"}},
    {"jxdec", {"--key", "--force", "--verbose", "--stdout", "--threads", "-k", "-F", "-V"},
     {"   Stream file layout"}},
};

// Names the page in the messages of a failing case.
void PrintTo(const Page& page, std::ostream* out) {
  *out << page.program;
}

class ManualPageTest : public ::testing::TestWithParam<Page> {
 protected:
  void SetUp() override {
    groff_ = on_path("groff");
    if (groff_.empty()) GTEST_SKIP() << "groff is not installed";
  }

  Outcome groff(const std::vector<std::string>& options) const {
    std::vector<std::string> arguments = options;
    arguments.push_back(page_path(GetParam().program));
    return jxtest::run(scratch_.path(), groff_, arguments);
  }

  // The page as a terminal shows it, without bold or underlining.
  std::string rendered() const {
    const Outcome outcome = groff({"-man", "-Tutf8", "-P-cbou"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    return outcome.out;
  }

  std::string groff_;
  Scratch scratch_;
};

TEST_P(ManualPageTest, RendersWithoutWarnings) {
  const std::vector<std::vector<std::string>> renderings = {
      {"-man", "-ww", "-z"},
      {"-man", "-ww", "-Tutf8"},
      {"-man", "-ww", "-Tutf8", "-rLL=60n"},
      {"-man", "-ww", "-Tutf8", "-rLL=132n"},
  };
  for (const auto& options : renderings) {
    SCOPED_TRACE(options.back());
    const Outcome outcome = groff(options);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
  }
}

TEST_P(ManualPageTest, HasEverySection) {
  const std::vector<std::string> lines = lines_of(rendered());
  std::vector<std::string> headings = {"NAME",     "SYNOPSIS",    "DESCRIPTION", "OPTIONS",
                                       "FILES",    "EXIT STATUS", "DIAGNOSTICS", "EXAMPLES",
                                       "SECURITY", "SEE ALSO"};
  headings.insert(headings.end(), GetParam().headings.begin(), GetParam().headings.end());
  for (const std::string& heading : headings) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), heading), lines.end()) << heading;
  }
  const auto name = std::find(lines.begin(), lines.end(), "NAME");
  ASSERT_NE(name, lines.end());
  ASSERT_NE(name + 1, lines.end());
  EXPECT_EQ(squeezed(name[1]).rfind(std::string(GetParam().program) + " - ", 0), 0u) << name[1];
}

TEST_P(ManualPageTest, RefersToTheOtherPrograms) {
  const std::vector<std::string> lines = lines_of(rendered());
  const auto see_also = std::find(lines.begin(), lines.end(), "SEE ALSO");
  ASSERT_NE(see_also, lines.end());
  ASSERT_NE(see_also + 1, lines.end());
  for (const Page& other : kPages) {
    const std::string reference = std::string(other.program) + "(1)";
    const bool listed = see_also[1].find(reference) != std::string::npos;
    EXPECT_EQ(listed, other.program != std::string(GetParam().program)) << reference;
  }
}

// The words of a text, split at white space and punctuation, without trailing full stops.
std::set<std::string> words_of(const std::string& text) {
  std::set<std::string> words;
  std::string word;
  for (char c : text + " ") {
    if (std::isspace(static_cast<unsigned char>(c)) ||
        std::string("[]|(),;:").find(c) != std::string::npos) {
      while (!word.empty() && word.back() == '.') word.pop_back();
      if (!word.empty()) words.insert(word);
      word.clear();
    } else {
      word += c;
    }
  }
  return words;
}

TEST_P(ManualPageTest, MentionsEveryOption) {
  const std::set<std::string> words = words_of(rendered());
  for (const std::string& option : GetParam().options) {
    EXPECT_TRUE(words.count(option)) << option;
  }
}

// Each option heads an entry of its own in OPTIONS, at the section's left margin, rather than
// being run into the text of the entry before it.
TEST_P(ManualPageTest, EveryOptionHeadsAnEntry) {
  const std::vector<std::string> lines = lines_of(rendered());
  const auto section = std::find(lines.begin(), lines.end(), "OPTIONS");
  ASSERT_NE(section, lines.end());
  const auto end = std::find_if(section + 1, lines.end(), [](const std::string& line) {
    return !line.empty() && !std::isspace(static_cast<unsigned char>(line[0]));
  });
  std::size_t margin = std::string::npos;
  for (auto line = section + 1; line != end; ++line) {
    margin = std::min(margin, line->find_first_not_of(' '));
  }
  std::string headings;
  for (auto line = section + 1; line != end; ++line) {
    if (line->size() > margin && line->find_first_not_of(' ') == margin && (*line)[margin] == '-') {
      headings += *line + "\n";
    }
  }
  const std::set<std::string> headed = words_of(headings);
  for (const std::string& option : GetParam().options) {
    EXPECT_TRUE(headed.count(option)) << option << " heads no entry in:\n" << headings;
  }
}

INSTANTIATE_TEST_SUITE_P(Pages, ManualPageTest, ::testing::ValuesIn(kPages),
                         [](const ::testing::TestParamInfo<Page>& page) {
                           return std::string(page.param.program);
                         });

// A directory with the files of the pages' examples: a key from a known password, a
// 14-byte file, its stream and a stream cut short.
class PageExamplesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (on_path("groff").empty()) GTEST_SKIP() << "groff is not installed";
    dir_.write("hello.txt", "Hello, world!\n");
    dir_.write("notes.txt", "hi\n");
    ASSERT_EQ(run("jxkey", {"-i", "correct horse", "demo"}).status, 0);
    ASSERT_EQ(run("jxenc", {"-k", "demo.jxk", "hello.txt"}).status, 0);
    dir_.write("damaged.jxd", dir_.read("hello.txt.jxd").substr(0, 300));
  }

  Outcome run(const std::string& program, const std::vector<std::string>& arguments) const {
    return jxtest::run(dir_.path(), jxtest::program(program), arguments);
  }

  static std::string page_text(const std::string& program) {
    return squeezed(
        jxtest::run("/", on_path("groff"), {"-man", "-Tutf8", "-P-cbou", page_path(program)}).out);
  }

  Scratch dir_;
};

// Every line that these runs print is quoted, word for word, on the program's page.
TEST_F(PageExamplesTest, PagesQuoteTheProgramsMessages) {
  struct Row {
    const char* program;
    std::vector<std::string> arguments;
    bool from_stderr = false;
  };
  const Row rows[] = {
      {"jxkey", {}},
      {"jxkey", {"-r", "nodir/k"}},
      {"jxkey", {"-f", "missing", "k"}},
      {"jxkey", {"-i", "secret"}},
      {"jxenc", {"-k", "demo.jxk", "hello.txt"}},
      {"jxenc", {"-k", "missing.jxk", "hello.txt"}},
      {"jxenc", {"-k"}, true},
      {"jxenc", {"-V", "-k", "demo.jxk", "old.jxd"}},
      {"jxdec", {}},
      {"jxdec", {"-k", "demo.jxk", "damaged.jxd", "hello.txt"}},
      {"jxdec", {"-k"}, true},
      {"jxenc", {"--stdout", "a", "b"}, true},
      {"jxdec", {"-k", "demo.jxk", "--stdout", "damaged.jxd"}, true},
      {"jxview", {}},
      {"jxview", {"notes.txt"}},
      {"jxview", {"missing"}},
  };
  for (const Row& row : rows) {
    std::string trace = row.program;
    for (const auto& argument : row.arguments) trace += " " + argument;
    SCOPED_TRACE(trace);
    const Outcome outcome = run(row.program, row.arguments);
    const std::string page = page_text(row.program);
    const std::string printed = row.from_stderr ? outcome.err : outcome.out;
    EXPECT_NE(printed, "");
    for (const std::string& line : lines_of(printed)) {
      if (squeezed(line).empty()) continue;
      EXPECT_NE(page.find(squeezed(line)), std::string::npos) << line;
    }
  }
}

bool is_hex_digits(const std::string& text) {
  return text.size() == 16 && std::all_of(text.begin(), text.end(), [](char c) {
           return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f');
         });
}

// The reports on jxview's page are real ones: each line, trailing spaces included, stands in
// the page's source as the program prints it. Only the random modifiers of a stream differ.
TEST_F(PageExamplesTest, JxviewPageShowsRealReports) {
  const std::vector<std::string> source = lines_of(read_text(page_path("jxview")));
  auto in_source = [&](const std::string& line) {
    return std::find(source.begin(), source.end(), line) != source.end();
  };
  for (const char* file : {"demo.jxk", "hello.txt.jxd"}) {
    SCOPED_TRACE(file);
    const Outcome outcome = run("jxview", {file});
    ASSERT_EQ(outcome.status, 0);
    const std::vector<std::string> report = lines_of(outcome.out);
    ASSERT_GT(report.size(), 20u);
    for (const std::string& line : report) {
      if (line.rfind("modifier ", 0) == 0) {
        const std::string label = line.substr(0, 20);
        EXPECT_TRUE(std::any_of(source.begin(), source.end(), [&](const std::string& shown) {
          return shown.rfind(label, 0) == 0 && is_hex_digits(shown.substr(20));
        })) << line;
      } else if (!line.empty()) {
        EXPECT_TRUE(in_source(line)) << "[" << line << "]";
      }
    }
  }
}

}  // namespace

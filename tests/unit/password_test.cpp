#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "jx/jx.h"

namespace jx {
namespace {

// What one call left: its outcome, what it wrote on standard output, and the input it did
// not read.
struct Entered {
  Result<PasswordOutcome> outcome;
  std::string prompts;
  std::string unread;
};

std::string read_all(int fd) {
  std::string bytes;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(n));
  return bytes;
}

// Standard input from a pipe that holds `input` and then ends.
int pipe_holding(const std::string& input) {
  int ends[2];
  if (::pipe(ends) != 0) throw std::runtime_error("pipe failed");
  if (input.size() > 65536) ::fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(input.size()));
  if (::write(ends[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
    throw std::runtime_error("input does not fit in the pipe");
  }
  ::close(ends[1]);
  return ends[0];
}

// Calls get_password with `input` on standard input and standard output captured, and puts
// both back before returning, so that test failures are printed where they belong.
Entered enter(const std::string& input) {
  const int source = pipe_holding(input);
  std::FILE* capture = std::tmpfile();
  if (!capture) throw std::runtime_error("tmpfile failed");
  std::fflush(stdout);
  const int kept_in = ::dup(0);
  const int kept_out = ::dup(1);
  ::dup2(source, 0);
  ::close(source);
  ::dup2(::fileno(capture), 1);

  Result<PasswordOutcome> outcome = get_password();
  std::fflush(stdout);
  std::string unread = read_all(0);

  ::dup2(kept_in, 0);
  ::dup2(kept_out, 1);
  ::close(kept_in);
  ::close(kept_out);
  std::rewind(capture);
  std::string prompts = read_all(::fileno(capture));
  std::fclose(capture);
  return {std::move(outcome), std::move(prompts), std::move(unread)};
}

// Expected NFKC forms worked by hand from the decomposition mappings, canonical combining
// classes and compositions of the Unicode Character Database (and checked against Python's
// unicodedata.normalize).
TEST(PasswordTest, ReadsTwoEntriesAndReturnsTheNormalisedPassword) {
  const std::string longest_entry(65536, 'x');
  struct Row {
    const char* name;
    std::string input;
    std::optional<std::string> password;  // nothing: the entries do not match
    std::string unread = {};
  };
  const Row rows[] = {
      {"same entry twice", "hunter2\nhunter2\n", "hunter2"},
      {"entries differ by a trailing space", "pass\npass \n", std::nullopt},
      {"spaces around the entry are kept", " a b \n a b \n", " a b "},
      {"CR LF is removed", "pass\r\npass\r\n", "pass"},
      {"one CR goes with the LF, the one before it stays", "x\r\r\nx\r", "x\r"},
      {"a CR ending the input without LF stays", "x\r\nx\r", std::nullopt},
      {"two empty lines", "\n\n", ""},
      {"empty line, then end of input", "\n", ""},
      {"an entry, then end of input", "pw\n", std::nullopt},
      {"last entry without line end", "abc\nabc", "abc"},
      {"NUL is an ordinary character", std::string("a\0b\na\0b\n", 8), std::string("a\0b", 3)},
      {"one line per entry", "same\nsame\nthird\n", "same", "third\n"},
      {"a mismatch also takes two lines only", "one\ntwo\nthree\n", std::nullopt, "three\n"},
      {"the longest entry", longest_entry + "\n" + longest_entry + "\n", longest_entry},
      {"ligature", "\uFB01\n\uFB01\n", "fi"},
      {"full-width letters and digit", "\uFF21\uFF22\uFF43\uFF11\n\uFF21\uFF22\uFF43\uFF11\n",
       "ABc1"},
      {"accent typed as a combining mark, twice", "e\u0301\ne\u0301\n", "\u00E9"},
      {"precomposed accent, twice", "\u00E9\n\u00E9\n", "\u00E9"},
      {"precomposed against combining accent", "\u00E9\ne\u0301\n", std::nullopt},
      {"marks put in class order, then composed", "a\u0301\u0323\na\u0301\u0323\n",
       "\u1EA1\u0301"},
      {"Hangul jamo composed into a syllable", "\u1100\u1161\u11A8\n\u1100\u1161\u11A8\n",
       "\uAC01"},
      {"a form much longer than the entry", "\uFDFA\uFDFA\uFDFA\n\uFDFA\uFDFA\uFDFA\n",
       "\u0635\u0644\u0649 \u0627\u0644\u0644\u0647 \u0639\u0644\u064A\u0647 \u0648\u0633\u0644\u0645"
       "\u0635\u0644\u0649 \u0627\u0644\u0644\u0647 \u0639\u0644\u064A\u0647 \u0648\u0633\u0644\u0645"
       "\u0635\u0644\u0649 \u0627\u0644\u0644\u0647 \u0639\u0644\u064A\u0647 \u0648\u0633\u0644\u0645"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Entered entered = enter(row.input);
    EXPECT_EQ(entered.prompts, "Enter your password:Enter your password:");
    EXPECT_EQ(entered.unread, row.unread);
    ASSERT_TRUE(entered.outcome) << entered.outcome.error().message_form();
    const PasswordOutcome& outcome = entered.outcome.value();
    if (row.password) {
      EXPECT_EQ(outcome.password, row.password);
      EXPECT_EQ(outcome.failure, "");
    } else {
      EXPECT_EQ(outcome.password, std::nullopt);
      EXPECT_EQ(outcome.failure, "Passwords do not match\n");
    }
  }
}

// One entry on descriptors of the caller's choice: one prompt goes there, one line is taken
// and normalised, and the standard streams are left alone.
TEST(PasswordTest, ReadsOneEntryOnTheGivenChannel) {
  struct Row {
    const char* name;
    std::string input;
    std::optional<std::string> password;  // nothing: refused as an absent entry
    std::string unread;
  };
  const Row rows[] = {
      {"one line of two", "pw\nrest\n", "pw", "rest\n"},
      {"normalised", "\uFB01\r\n", "fi", ""},
      {"an empty line is the empty password", "\n", "", ""},
      {"no entry at all", "", std::nullopt, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const int input = pipe_holding(row.input);
    int prompt[2];
    ASSERT_EQ(::pipe(prompt), 0);
    Result<PasswordOutcome> outcome =
        get_password(PasswordChannel{input, prompt[1]}, Confirmation::Once);
    ::close(prompt[1]);
    EXPECT_EQ(read_all(prompt[0]), "Enter your password:");
    EXPECT_EQ(read_all(input), row.unread);
    ::close(prompt[0]);
    ::close(input);
    if (!row.password) {
      ASSERT_FALSE(outcome);
      EXPECT_EQ(outcome.error().kind(), ErrorKind::UnexpectedEof);
      continue;
    }
    ASSERT_TRUE(outcome) << outcome.error().message_form();
    EXPECT_EQ(outcome.value().password, row.password);
    EXPECT_EQ(outcome.value().failure, "");
  }
}

// Calls get_password after `prepare` has set up its standard streams, and puts them back.
Result<PasswordOutcome> enter_after(const std::function<void()>& prepare) {
  std::fflush(stdout);
  const int kept_in = ::dup(0);
  const int kept_out = ::dup(1);
  const int null = ::open("/dev/null", O_WRONLY);
  ::dup2(null, 1);
  ::close(null);
  prepare();
  Result<PasswordOutcome> outcome = get_password();
  std::fflush(stdout);
  std::clearerr(stdout);
  ::dup2(kept_in, 0);
  ::dup2(kept_out, 1);
  ::close(kept_in);
  ::close(kept_out);
  return outcome;
}

void input_from(const std::string& input) {
  const int source = pipe_holding(input);
  ::dup2(source, 0);
  ::close(source);
}

// Reading errors, and an input that ends before the first entry, come back as errors: the
// caller decides what to print and how to end.
TEST(PasswordTest, ReadingErrorsAreReturned) {
  const std::string not_utf8 = "stream did not contain valid UTF-8";
  const std::string bad_descriptor = "Bad file descriptor (os error 9)";
  struct Row {
    const char* name;
    std::function<void()> prepare;
    std::string message;  // the message form of the error
  };
  const Row rows[] = {
      {"end of input at once", [] { input_from(""); }, "input ended before a password was entered"},
      {"first entry not UTF-8", [] { input_from("\xFF\n\xFF\n"); }, not_utf8},
      {"second entry ends inside a sequence", [] { input_from("ok\nok\xC3"); }, not_utf8},
      {"overlong encoding", [] { input_from("\xC0\xAF\n\xC0\xAF\n"); }, not_utf8},
      {"entry one byte too long", [] { input_from(std::string(65537, 'x') + "\n"); },
       "entry longer than 65536 bytes"},
      {"standard input is a directory",
       [] {
         const int directory = ::open("/", O_RDONLY | O_DIRECTORY);
         ::dup2(directory, 0);
         ::close(directory);
       },
       "Is a directory (os error 21)"},
      {"standard input closed", [] { ::close(0); }, bad_descriptor},
      {"standard output closed",
       [] {
         input_from("a\na\n");
         ::close(1);
       },
       bad_descriptor},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Result<PasswordOutcome> outcome = enter_after(row.prepare);
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error().message_form(), row.message);
  }
}

}  // namespace
}  // namespace jx

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "harness.h"

namespace {

using jxtest::Outcome;
using jxtest::Scratch;
using jxtest::Terminal;

const std::string kPrompt = "Enter your password:";

// Everything the terminal shows up to the prompt of entry `number` when only the line ends
// of the earlier entries are echoed.
std::string shown_up_to_prompt(int number) {
  std::string shown = kPrompt;
  for (int i = 1; i < number; ++i) shown += "\r\n" + kPrompt;
  return shown;
}

// Waits for the prompt of entry `number` and for echo to go off, as a user would see it.
testing::AssertionResult waits_quietly_for_entry(Terminal& terminal, int number) {
  if (!terminal.wait_for(shown_up_to_prompt(number))) {
    return testing::AssertionFailure() << "no prompt " << number << " in " << terminal.output();
  }
  if (!terminal.wait_for_echo(false)) {
    return testing::AssertionFailure() << "echo stayed on at prompt " << number;
  }
  return testing::AssertionSuccess();
}

TEST(TerminalTest, EntriesAreHiddenAndOnlyTheirLineEndsShow) {
  struct Row {
    const char* name;
    std::string first;
    std::string second;
    int status;
    std::vector<std::string> files;
    std::string shown;  // the whole output
  };
  const std::string both_prompts = shown_up_to_prompt(2) + "\r\n";
  const Row rows[] = {
      {"same password twice", "s3cret \u00E4", "s3cret \u00E4", 0, {"k.jxk"}, both_prompts},
      {"different passwords", "s3cret", "s3cre7", 101, {},
       both_prompts + "Passwords do not match\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Scratch dir;
    Terminal terminal(dir.path(), jxtest::program("jxkey"), {"k"});
    ASSERT_TRUE(waits_quietly_for_entry(terminal, 1));
    terminal.type(row.first + "\n");
    ASSERT_TRUE(waits_quietly_for_entry(terminal, 2));
    terminal.type(row.second + "\n");
    const Outcome outcome = terminal.finish();
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_EQ(outcome.out, row.shown);
    EXPECT_TRUE(terminal.echo_is_on());
    EXPECT_EQ(dir.entries(), row.files);
    if (dir.exists("k.jxk")) {
      EXPECT_EQ(dir.read("k.jxk").size(), 292u);
    }
  }
}

TEST(TerminalTest, EndingSignalsPutEchoBackBeforeTheProgramDies) {
  struct Row {
    const char* name;
    int entries_typed;     // complete entries before the signal
    std::string keys;      // typed to raise the signal, or empty to send it
    int signal_number;
  };
  const Row rows[] = {
      {"SIGINT at the second entry", 1, "", SIGINT},
      {"Ctrl-C typed at the second entry", 1, "\x03", SIGINT},
      {"SIGINT at the first entry", 0, "", SIGINT},
      {"SIGTERM", 1, "", SIGTERM},
      {"SIGHUP", 1, "", SIGHUP},
      {"SIGQUIT", 1, "", SIGQUIT},
      {"Ctrl-\\ typed", 1, "\x1c", SIGQUIT},
      {"SIGUSR1", 1, "", SIGUSR1},
      {"SIGUSR2", 1, "", SIGUSR2},
      {"SIGALRM", 1, "", SIGALRM},
      {"SIGVTALRM", 1, "", SIGVTALRM},
      {"SIGPROF at the first entry", 0, "", SIGPROF},
      {"SIGPWR", 1, "", SIGPWR},
      {"SIGABRT", 1, "", SIGABRT},
      {"the last real-time signal", 1, "", SIGRTMAX},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Scratch dir;
    Terminal terminal(dir.path(), jxtest::program("jxkey"), {"k"});
    for (int entry = 1; entry <= row.entries_typed; ++entry) {
      ASSERT_TRUE(waits_quietly_for_entry(terminal, entry));
      terminal.type("hidden\n");
    }
    ASSERT_TRUE(waits_quietly_for_entry(terminal, row.entries_typed + 1));
    // Bytes still in flight when a signal turns echo back on would be echoed by the terminal.
    ASSERT_TRUE(terminal.type_and_wait_until_taken("hid"));
    if (row.keys.empty()) {
      terminal.send_signal(row.signal_number);
    } else {
      terminal.type(row.keys);
    }
    const Outcome outcome = terminal.finish();
    EXPECT_EQ(outcome.signal, row.signal_number);
    EXPECT_TRUE(terminal.echo_is_on());
    EXPECT_EQ(outcome.out.find("hid"), std::string::npos) << outcome.out;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{});
  }
}

// Typing goes on where it stopped: the same line, still hidden, gives the key of the same
// password given inline.
TEST(TerminalTest, StopShowsEchoAndContinueHidesItAgain) {
  struct Row {
    const char* name;
    std::string before_stop;  // typed at the second entry before the stop
    std::string stop_keys;    // typed to stop, or empty to send SIGTSTP
    std::string after_stop;
  };
  const Row rows[] = {
      {"SIGTSTP in the middle of the entry", "pass", "", "word\n"},
      // Ctrl-Z throws away the unfinished line, as the terminal does for every signal key.
      {"Ctrl-Z typed", "", "\x1a", "password\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Scratch dir;
    Terminal terminal(dir.path(), jxtest::program("jxkey"), {"k"});
    ASSERT_TRUE(waits_quietly_for_entry(terminal, 1));
    terminal.type("password\n");
    ASSERT_TRUE(waits_quietly_for_entry(terminal, 2));
    ASSERT_TRUE(terminal.type_and_wait_until_taken(row.before_stop));
    if (row.stop_keys.empty()) {
      terminal.send_signal(SIGTSTP);
    } else {
      terminal.type(row.stop_keys);
    }
    ASSERT_TRUE(terminal.wait_for_stopped(true));
    EXPECT_TRUE(terminal.echo_is_on()) << "echo stays off while the program is stopped";
    terminal.send_signal(SIGCONT);
    ASSERT_TRUE(terminal.wait_for_stopped(false));
    ASSERT_TRUE(terminal.wait_for_echo(false)) << "echo stays on after the program goes on";
    terminal.type(row.after_stop);
    const Outcome outcome = terminal.finish();
    EXPECT_EQ(outcome.status, 0) << outcome.out;
    EXPECT_EQ(outcome.out, shown_up_to_prompt(2) + "\r\n");
    EXPECT_TRUE(terminal.echo_is_on());
    ASSERT_EQ(dir.entries(), std::vector<std::string>{"k.jxk"});

    const Outcome inline_run =
        jxtest::run(dir.path(), jxtest::program("jxkey"), {"-i", "password", "inline"});
    ASSERT_EQ(inline_run.status, 0) << inline_run.out;
    EXPECT_EQ(dir.read("k.jxk"), dir.read("inline.jxk"));
  }
}

}  // namespace

#include <signal.h>
#include <termios.h>
#include <unistd.h>
#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>
#include <unicode/utypes.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jx/jx.h"
#include "jx/utf8.h"
#include "ending_signals.h"
#include "traces.h"

namespace jx {
namespace {

constexpr std::string_view kPrompt = "Enter your password:";
constexpr std::string_view kMismatch = "Passwords do not match\n";
// Large enough that the buffers never live inside the string object, where a move would
// leave a copy of the bytes behind.
constexpr std::size_t kFirstCapacity = 64;
// Far beyond any password, and a bound on what endless input without a line feed can cost.
constexpr std::size_t kLongestEntry = 65536;

// The signal handlers' view of the terminal while a password is typed: the attributes to
// put back, the echo-free ones, and whether echo is meant to be off right now.
termios g_kept_attributes;
termios g_quiet_attributes;
volatile sig_atomic_t g_echo_is_off = 0;
volatile sig_atomic_t g_terminal = STDIN_FILENO;

// Wipes every byte the string's buffer can hold, not only those in use, then empties it.
void wipe_all(std::string& text) {
  text.resize(text.capacity());
  wipe(text);
  text.clear();
}

using Handler = void (*)(int);

void set_disposition(int signal_number, Handler handler) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal_number, &action, nullptr);
}

void unblock(int signal_number) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal_number);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

// Puts the terminal back, then lets the signal end the process as it would have.
void end_with_terminal_restored(int signal_number) {
  ::tcsetattr(g_terminal, TCSANOW, &g_kept_attributes);
  set_disposition(signal_number, SIG_DFL);
  ::raise(signal_number);
  unblock(signal_number);
}

// Turns echo off again when the process goes on after a stop.
void quiet_again(int) {
  const int saved_errno = errno;
  if (g_echo_is_off) ::tcsetattr(g_terminal, TCSANOW, &g_quiet_attributes);
  errno = saved_errno;
}

// Shows the terminal as it was while the process is stopped, and hides typing again after.
void stop_with_terminal_restored(int signal_number) {
  const int saved_errno = errno;
  ::tcsetattr(g_terminal, TCSANOW, &g_kept_attributes);
  set_disposition(signal_number, SIG_DFL);
  ::raise(signal_number);
  unblock(signal_number);
  set_disposition(signal_number, stop_with_terminal_restored);
  quiet_again(signal_number);
  errno = saved_errno;
}

// The handlers stay only while echo is off: every signal that would end the process puts the
// terminal back first, and job control's stop and continue show and hide typing. Signals the
// caller ignores stay ignored.
class SignalGuard {
 public:
  SignalGuard() {
    for (int number : ending_signals()) take_over(number, end_with_terminal_restored);
    take_over(SIGTSTP, stop_with_terminal_restored);
    take_over(SIGCONT, quiet_again);
  }
  ~SignalGuard() {
    for (const auto& [number, action] : previous_) ::sigaction(number, &action, nullptr);
  }
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;

 private:
  void take_over(int number, Handler handler) {
    struct sigaction current {};
    ::sigaction(number, nullptr, &current);
    if (number != SIGCONT && !may_take_over(number, current)) return;
    previous_.emplace_back(number, current);
    set_disposition(number, handler);
  }

  std::vector<std::pair<int, struct sigaction>> previous_;
};

// Writes the prompt straight to a descriptor other than standard output's.
Status write_prompt_to(int descriptor) {
  std::string_view rest = kPrompt;
  while (!rest.empty()) {
    const ssize_t n = ::write(descriptor, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return IoError::os(errno);
    if (n == 0) return IoError::simple(ErrorKind::WriteZero, "failed to write whole buffer");
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  return Done{};
}

// On standard output the prompt goes through its buffer, after whatever is waiting there.
Status write_prompt(int descriptor) {
  if (descriptor != STDOUT_FILENO) return write_prompt_to(descriptor);
  if (std::fwrite(kPrompt.data(), 1, kPrompt.size(), stdout) != kPrompt.size()) {
    return IoError::os(errno);
  }
  if (std::fflush(stdout) != 0) return IoError::os(errno);
  return Done{};
}

// Adds one byte, moving to a larger buffer by hand so no released buffer keeps the bytes.
void append_byte(std::string& line, char byte) {
  if (line.size() == line.capacity()) {
    std::string larger;
    larger.reserve(2 * line.capacity());
    larger.append(line);
    wipe_all(line);
    line.swap(larger);
  }
  line.push_back(byte);
}

// Reads the input one byte at a time up to and including the first line feed, so the next
// line stays unread for whoever reads next.
Result<std::string> read_line(int input) {
  std::string line;
  line.reserve(kFirstCapacity);
  for (;;) {
    char byte = 0;
    const ssize_t n = ::read(input, &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int code = errno;
      wipe_all(line);
      return IoError::os(code);
    }
    if (n == 0) break;
    if (byte != '\n' && line.size() == kLongestEntry) {
      wipe_all(line);
      return IoError::simple(ErrorKind::InvalidData,
                             "entry longer than " + std::to_string(kLongestEntry) + " bytes");
    }
    append_byte(line, byte);
    if (byte == '\n') break;
  }
  return line;
}

Result<std::string> read_line_quietly(int terminal) {
  termios kept{};
  if (::tcgetattr(terminal, &kept) != 0) return IoError::os(errno);
  termios quiet = kept;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  g_kept_attributes = kept;
  g_quiet_attributes = quiet;
  g_terminal = terminal;
  std::atomic_signal_fence(std::memory_order_seq_cst);

  SignalGuard guard;
  g_echo_is_off = 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (::tcsetattr(terminal, TCSANOW, &quiet) != 0) {
    const int code = errno;
    g_echo_is_off = 0;
    ::tcsetattr(terminal, TCSANOW, &kept);
    return IoError::os(code);
  }
  Result<std::string> line = read_line(terminal);
  g_echo_is_off = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (::tcsetattr(terminal, TCSANOW, &kept) != 0) {
    const int code = errno;
    if (line) wipe_all(line.value());
    return IoError::os(code);
  }
  return line;
}

// Removes a final line feed and, only then, a carriage return before it.
void strip_line_end(std::string& line) {
  if (line.empty() || line.back() != '\n') return;
  line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

// `required` refuses an input that ends before the entry's first byte: an absent entry is
// not an empty password.
Result<std::string> read_entry(const PasswordChannel& channel, bool required) {
  if (Status prompted = write_prompt(channel.prompt); !prompted) return prompted.error();
  Result<std::string> line =
      ::isatty(channel.input) ? read_line_quietly(channel.input) : read_line(channel.input);
  if (!line) return line;
  if (required && line.value().empty()) {
    return IoError::simple(ErrorKind::UnexpectedEof, "input ended before a password was entered");
  }
  if (!is_utf8(line.value())) {
    wipe_all(line.value());
    return IoError::simple(ErrorKind::InvalidData, "stream did not contain valid UTF-8");
  }
  strip_line_end(line.value());
  return line;
}

// NFKC of a valid UTF-8 text, written straight into a buffer of ours so that no copy of
// the password is left where it cannot be wiped.
Result<std::string> nfkc(const std::string& text) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* normalizer = icu::Normalizer2::getNFKCInstance(status);
  if (U_FAILURE(status)) return IoError::custom(u_errorName(status));
  const icu::StringPiece source(text.data(), static_cast<std::int32_t>(text.size()));
  std::string result(text.size() + kFirstCapacity, '\0');
  for (;;) {
    icu::CheckedArrayByteSink sink(result.data(), static_cast<std::int32_t>(result.size()));
    normalizer->normalizeUTF8(0, source, sink, nullptr, status);
    if (U_FAILURE(status)) {
      wipe_all(result);
      return IoError::custom(u_errorName(status));
    }
    if (!sink.Overflowed()) {
      result.resize(static_cast<std::size_t>(sink.NumberOfBytesWritten()));
      return result;
    }
    std::string larger(static_cast<std::size_t>(sink.NumberOfBytesAppended()), '\0');
    wipe_all(result);
    result.swap(larger);
  }
}

// The outcome of a single entry, which is wiped whatever happens.
Result<PasswordOutcome> outcome_of_entry(const PasswordChannel& channel) {
  Result<std::string> entry = read_entry(channel, true);
  if (!entry) return entry.error();
  Result<std::string> normal = nfkc(entry.value());
  wipe_all(entry.value());
  if (!normal) return normal.error();
  PasswordOutcome outcome;
  outcome.password = std::move(normal.value());
  return outcome;
}

// Reads the entries and makes the outcome of them; they are wiped whatever happens. Kept
// out of line so that its frames lie below get_password's, where the stack is wiped.
[[gnu::noinline]] Result<PasswordOutcome> outcome_of_entries(const PasswordChannel& channel,
                                                             Confirmation confirmation) {
  if (confirmation == Confirmation::Once) return outcome_of_entry(channel);
  Result<std::string> first = read_entry(channel, true);
  if (!first) return first.error();
  Result<std::string> second = read_entry(channel, false);
  if (!second) {
    wipe_all(first.value());
    return second.error();
  }
  PasswordOutcome outcome;
  Result<std::string> normal = std::string();
  if (first.value() == second.value()) {
    normal = nfkc(second.value());
  } else {
    outcome.failure = kMismatch;
  }
  wipe_all(first.value());
  wipe_all(second.value());
  if (!normal) return normal.error();
  if (outcome.failure.empty()) outcome.password = std::move(normal.value());
  return outcome;
}

}  // namespace

PasswordOutcome::~PasswordOutcome() {
  if (password) wipe_all(*password);
}

Result<PasswordOutcome> get_password() {
  return get_password(PasswordChannel{}, Confirmation::Twice);
}

Result<PasswordOutcome> get_password(const PasswordChannel& channel, Confirmation confirmation) {
  Result<PasswordOutcome> outcome = outcome_of_entries(channel, confirmation);
  wipe_stack_below();
  wipe_vector_registers();
  return outcome;
}

}  // namespace jx

#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bytes.h"
#include "polling.h"
#include "scratch.h"

namespace jxtest {

// Path of a built program of the suite.
std::string program(const std::string& name);

// How to start a program.
struct Launch {
  std::string input;                        // written to standard input, which then closes
  bool input_is_null = false;               // standard input is /dev/null instead
  std::string stdin_path;                   // standard input opens this file instead
  std::optional<rlim_t> file_size_limit;    // RLIMIT_FSIZE in bytes
  std::optional<rlim_t> address_space_limit;  // RLIMIT_AS in bytes
  bool ignore_sigxfsz = false;
  std::vector<std::string> environment;     // NAME=value entries, replacing inherited ones
  std::optional<uid_t> user;                // run as this user (and its primary group)
  std::string stdout_path;                  // standard output opens this file instead of a pipe
  std::chrono::milliseconds timeout{60000};
};

// What a finished program left.
struct Outcome {
  std::string out;
  std::string err;
  int status = -1;       // exit status, or -1 when ended by a signal
  int signal = 0;        // the signal that ended it, or 0
};

// A program started in the directory and not yet waited for, so that a test can act while it
// runs; it is killed if it was never finished.
class Started {
 public:
  Started(const std::string& directory, const std::string& program_path,
          const std::vector<std::string>& arguments, const Launch& launch = {});
  ~Started();
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;

  pid_t pid() const { return child_; }
  void send_signal(int signal_number);
  // Writes the input, collects both outputs until they close, and waits for the end.
  Outcome finish();

 private:
  Launch launch_;
  pid_t child_ = -1;
  int stdin_ = -1, stdout_ = -1, stderr_ = -1;
};

// The state letter of /proc/PID/stat ("S" while the process waits, "T" while it is stopped),
// or "" once it is gone.
std::string process_state(pid_t pid);

// Opens a fifo for writing, without blocking, once a program has opened it for reading;
// -1 when none has within the timeout.
int open_fifo_writer(const std::string& path,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Runs a program with the arguments in the directory and waits for it to end.
Outcome run(const std::string& directory, const std::string& program_path,
            const std::vector<std::string>& arguments, const Launch& launch = {});
namespace by_name {
// Runs a program of the suite, by its name, in the scratch directory. A test file takes it
// with `using jxtest::by_name::run;`; apart from jxtest, a file's own `run` taking a Scratch
// is not made ambiguous by it.
Outcome run(const Scratch& directory, const std::string& program_name,
            const std::vector<std::string>& arguments, const Launch& launch = {});
}  // namespace by_name

// A program running on a pseudo-terminal that is its controlling terminal and its standard
// input, output and error. The program runs in the terminal's foreground process group under
// a small session leader that passes on its exit status, so that job-control stops reach it
// as they would under a shell.
class Terminal {
 public:
  Terminal(const std::string& directory, const std::string& program_path,
           const std::vector<std::string>& arguments);
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // Waits until the text has appeared in the output; false on timeout.
  bool wait_for(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Waits until the terminal's echo flag has the wanted state; false on timeout.
  bool wait_for_echo(bool on, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  bool echo_is_on() const;
  // Waits until the program is stopped (or running again, for false); false on timeout.
  bool wait_for_stopped(bool stopped, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  void type(const std::string& text);
  // Types text that ends no line, and waits until the terminal has handed it to the line
  // discipline, which takes typed bytes asynchronously: a stop and a start of output typed
  // after the text come back from there in order. False on timeout.
  bool type_and_wait_until_taken(const std::string& text,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(10));
  void send_signal(int signal_number);
  // Waits for the program to end and reads what is left of its output.
  Outcome finish(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  const std::string& output() const { return output_; }

 private:
  // Reads what the program wrote, and the reports of output stopped or started.
  void drain(std::chrono::milliseconds wait);
  bool wait_for_flow_report(int report, std::chrono::milliseconds timeout);

  bool is_stopped() const;

  int master_ = -1;
  pid_t child_ = -1;    // the session leader
  pid_t program_ = -1;  // the program, a child of the session leader
  std::string output_;
  int flow_reports_ = 0;  // TIOCPKT_STOP and TIOCPKT_START seen and not yet waited for
};

}  // namespace jxtest

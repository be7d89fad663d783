#include "harness.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>

#ifndef JX_BIN_DIR
#error "JX_BIN_DIR names the directory of the built programs"
#endif

namespace jxtest {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string program(const std::string& name) { return std::string(JX_BIN_DIR) + "/" + name; }

namespace {

std::vector<char*> c_strings(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// The inherited environment with each of `extra` replacing an entry of the same name.
std::vector<std::string> environment_with(const std::vector<std::string>& extra) {
  std::vector<std::string> envp;
  for (char** e = environ; *e; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('=') + 1);
    const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const std::string& x) {
      return x.compare(0, name.size(), name) == 0;
    });
    if (!replaced) envp.push_back(entry);
  }
  envp.insert(envp.end(), extra.begin(), extra.end());
  return envp;
}

[[noreturn]] void exec_program(const std::string& directory, const std::string& program_path,
                               const std::vector<std::string>& arguments,
                               const std::vector<std::string>& environment) {
  if (::chdir(directory.c_str()) != 0) ::_exit(126);
  std::vector<std::string> argv{program_path};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::string> envp = environment_with(environment);
  auto argv_pointers = c_strings(argv);
  auto envp_pointers = c_strings(envp);
  ::execve(program_path.c_str(), argv_pointers.data(), envp_pointers.data());
  ::_exit(127);
}

void reset_signals() {
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ, SIGTSTP, SIGCONT}) {
    ::signal(s, SIG_DFL);
  }
}

void set_status(Outcome& outcome, int wait_status) {
  if (WIFEXITED(wait_status)) outcome.status = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) outcome.signal = WTERMSIG(wait_status);
}

}  // namespace

namespace {

// Copies of the programs in a directory that every user may enter, for runs as another user:
// the build tree may sit below a directory that only its owner can enter.
class SharedPrograms {
 public:
  ~SharedPrograms() {
    std::error_code ignored;
    if (!directory_.empty()) fs::remove_all(directory_, ignored);
  }

  std::string copy_of(const std::string& program_path) {
    if (directory_.empty()) {
      std::string pattern = (fs::temp_directory_path() / "jx-programs-XXXXXX").string();
      if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
      directory_ = pattern;
      ::chmod(directory_.c_str(), 0755);
    }
    const fs::path copy = fs::path(directory_) / fs::path(program_path).filename();
    if (!fs::exists(copy)) {
      fs::copy_file(program_path, copy);
      fs::permissions(copy, fs::perms(0755));
    }
    return copy.string();
  }

 private:
  std::string directory_;
};

gid_t primary_group_of(uid_t user) {
  const passwd* entry = ::getpwuid(user);
  if (!entry) throw std::runtime_error("no user " + std::to_string(user));
  return entry->pw_gid;
}

std::string runnable_by(const Launch& launch, const std::string& program_path) {
  static SharedPrograms shared;
  return launch.user ? shared.copy_of(program_path) : program_path;
}

}  // namespace

Started::Started(const std::string& directory, const std::string& given_program_path,
                 const std::vector<std::string>& arguments, const Launch& launch)
    : launch_(launch) {
  const std::string program_path = runnable_by(launch, given_program_path);
  const gid_t group = launch.user ? primary_group_of(*launch.user) : 0;
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) {
    throw std::runtime_error("pipe failed");
  }
  child_ = ::fork();
  if (child_ < 0) throw std::runtime_error("fork failed");
  if (child_ == 0) {
    reset_signals();
    ::umask(022);
    if (launch.input_is_null || !launch.stdin_path.empty()) {
      const char* path = launch.input_is_null ? "/dev/null" : launch.stdin_path.c_str();
      const int file = ::open(path, O_RDONLY);
      if (file < 0) ::_exit(124);
      ::dup2(file, 0);
    } else {
      ::dup2(in[0], 0);
    }
    if (launch.stdout_path.empty()) {
      ::dup2(out[1], 1);
    } else {
      int file = ::open(launch.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (file < 0) ::_exit(124);
      ::dup2(file, 1);
    }
    ::dup2(err[1], 2);
    if (launch.file_size_limit) {
      rlimit limit{*launch.file_size_limit, *launch.file_size_limit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (launch.address_space_limit) {
      rlimit limit{*launch.address_space_limit, *launch.address_space_limit};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    if (launch.ignore_sigxfsz) ::signal(SIGXFSZ, SIG_IGN);
    if (launch.user) {
      ::setgroups(0, nullptr);
      if (::setgid(group) != 0 || ::setuid(*launch.user) != 0) ::_exit(125);
    }
    exec_program(directory, program_path, arguments, launch.environment);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  stdin_ = in[1];
  // The parent feeds the input only as far as the pipe takes it, so that it goes on reading
  // the outputs while the program cannot take more input until its output is read.
  ::fcntl(stdin_, F_SETFL, ::fcntl(stdin_, F_GETFL) | O_NONBLOCK);
  stdout_ = out[0];
  stderr_ = err[0];
}

Started::~Started() {
  if (child_ > 0) {
    ::kill(child_, SIGKILL);
    ::waitpid(child_, nullptr, 0);
  }
  for (int fd : {stdin_, stdout_, stderr_}) {
    if (fd >= 0) ::close(fd);
  }
}

void Started::send_signal(int signal_number) {
  if (child_ > 0) ::kill(child_, signal_number);
}

Outcome Started::finish() {
  Outcome outcome;
  std::size_t written = 0;
  if (launch_.input_is_null || !launch_.stdin_path.empty() || launch_.input.empty()) {
    ::close(stdin_);
    stdin_ = -1;
  }
  int open_outputs = 2;
  const auto deadline = Clock::now() + launch_.timeout;
  ::signal(SIGPIPE, SIG_IGN);
  while (open_outputs > 0 || stdin_ >= 0) {
    pollfd fds[3] = {{stdout_, POLLIN, 0}, {stderr_, POLLIN, 0}, {stdin_, POLLOUT, 0}};
    if (Clock::now() > deadline) {
      ::kill(child_, SIGKILL);
      break;
    }
    if (::poll(fds, 3, 100) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? outcome.out : outcome.err).append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        (i == 0 ? stdout_ : stderr_) = -1;
        --open_outputs;
      }
    }
    if (stdin_ >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t n =
          ::write(stdin_, launch_.input.data() + written, launch_.input.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == launch_.input.size()) {
        ::close(stdin_);
        stdin_ = -1;
      }
    }
  }
  for (int* fd : {&stdout_, &stderr_, &stdin_}) {
    if (*fd >= 0) ::close(std::exchange(*fd, -1));
  }
  int wait_status = 0;
  ::waitpid(child_, &wait_status, 0);
  child_ = -1;
  set_status(outcome, wait_status);
  return outcome;
}

Outcome run(const std::string& directory, const std::string& program_path,
            const std::vector<std::string>& arguments, const Launch& launch) {
  return Started(directory, program_path, arguments, launch).finish();
}

Outcome by_name::run(const Scratch& directory, const std::string& program_name,
                     const std::vector<std::string>& arguments, const Launch& launch) {
  return jxtest::run(directory.path(), program(program_name), arguments, launch);
}

std::string process_state(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const std::size_t end_of_name = line.rfind(')');
  if (end_of_name == std::string::npos || end_of_name + 2 >= line.size()) return "";
  return line.substr(end_of_name + 2, 1);
}

int open_fifo_writer(const std::string& path, std::chrono::milliseconds timeout) {
  int fd = -1;
  poll_until(
      [&] {
        fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return fd >= 0 || errno != ENXIO;
      },
      timeout);
  return fd;
}

namespace {

// Waits for the program and ends the same way: the same exit status, or the same signal.
[[noreturn]] void pass_on_end_of(pid_t program) {
  int wait_status = 0;
  while (::waitpid(program, &wait_status, 0) < 0) {
    if (errno != EINTR) ::_exit(125);
  }
  if (WIFSIGNALED(wait_status)) {
    ::signal(WTERMSIG(wait_status), SIG_DFL);
    ::raise(WTERMSIG(wait_status));
  }
  ::_exit(WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 125);
}

// Makes the program's own process group the terminal's foreground group, then runs it.
[[noreturn]] void exec_in_foreground(int slave, const std::string& directory,
                                     const std::string& program_path,
                                     const std::vector<std::string>& arguments) {
  ::setpgid(0, 0);
  ::signal(SIGTTOU, SIG_IGN);
  ::tcsetpgrp(slave, ::getpid());
  ::signal(SIGTTOU, SIG_DFL);
  ::dup2(slave, 0);
  ::dup2(slave, 1);
  ::dup2(slave, 2);
  if (slave > 2) ::close(slave);
  exec_program(directory, program_path, arguments, {});
}

}  // namespace

Terminal::Terminal(const std::string& directory, const std::string& program_path,
                   const std::vector<std::string>& arguments) {
  int slave = -1;
  if (::openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  child_ = ::fork();
  if (child_ < 0) throw std::runtime_error("fork failed");
  if (child_ == 0) {
    // A session leader's own process group is orphaned, and the kernel discards job-control
    // stops there, so the program runs one level below.
    reset_signals();
    ::close(master_);
    ::close(report[0]);
    ::setsid();
    ::ioctl(slave, TIOCSCTTY, 0);
    rlimit no_core{0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    pid_t program = ::fork();
    if (program == 0) exec_in_foreground(slave, directory, program_path, arguments);
    ::close(slave);
    ssize_t ignored = ::write(report[1], &program, sizeof program);
    (void)ignored;
    ::close(report[1]);
    pass_on_end_of(program);
  }
  ::close(slave);
  ::close(report[1]);
  ssize_t n = -1;
  do {
    n = ::read(report[0], &program_, sizeof program_);
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  int packet_mode = 1;
  ::ioctl(master_, TIOCPKT, &packet_mode);
  if (n != static_cast<ssize_t>(sizeof program_) || program_ <= 0) {
    ::waitpid(child_, nullptr, 0);
    ::close(master_);
    throw std::runtime_error("the program could not be started");
  }
}

Terminal::~Terminal() {
  if (child_ > 0) {
    if (program_ > 0) ::kill(program_, SIGKILL);
    ::kill(child_, SIGKILL);
    ::waitpid(child_, nullptr, 0);
  }
  if (master_ >= 0) ::close(master_);
}

void Terminal::drain(std::chrono::milliseconds wait) {
  pollfd fd{master_, POLLIN, 0};
  if (::poll(&fd, 1, static_cast<int>(wait.count())) <= 0) return;
  char buffer[4096];
  ssize_t n = ::read(master_, buffer, sizeof buffer);
  if (n <= 0) return;
  if (buffer[0] == TIOCPKT_DATA) {
    output_.append(buffer + 1, static_cast<std::size_t>(n - 1));
  } else {
    flow_reports_ |= buffer[0];
  }
}

bool Terminal::wait_for_flow_report(int report, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while ((flow_reports_ & report) == 0) {
    if (Clock::now() > deadline) return false;
    drain(std::chrono::milliseconds(10));
  }
  flow_reports_ &= ~report;
  return true;
}

bool Terminal::type_and_wait_until_taken(const std::string& text,
                                         std::chrono::milliseconds timeout) {
  flow_reports_ = 0;
  type(text + "\x13");  // Ctrl-S: stop output
  if (!wait_for_flow_report(TIOCPKT_STOP, timeout)) return false;
  type("\x11");  // Ctrl-Q: start it again
  return wait_for_flow_report(TIOCPKT_START, timeout);
}

bool Terminal::wait_for(const std::string& text, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (output_.find(text) == std::string::npos) {
    if (Clock::now() > deadline) return false;
    drain(std::chrono::milliseconds(20));
  }
  return true;
}

bool Terminal::echo_is_on() const {
  termios attributes{};
  ::tcgetattr(master_, &attributes);
  return (attributes.c_lflag & ECHO) != 0;
}

bool Terminal::wait_for_echo(bool on, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (echo_is_on() != on) {
    if (Clock::now() > deadline) return false;
    drain(std::chrono::milliseconds(10));
  }
  return true;
}

void Terminal::type(const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    ssize_t n = ::write(master_, text.data() + written, text.size() - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
}

void Terminal::send_signal(int signal_number) {
  if (child_ > 0) ::kill(program_, signal_number);
}

bool Terminal::is_stopped() const {
  return process_state(program_) == "T";
}

bool Terminal::wait_for_stopped(bool stopped, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (is_stopped() != stopped) {
    if (Clock::now() > deadline) return false;
    drain(std::chrono::milliseconds(10));
  }
  return true;
}

Outcome Terminal::finish(std::chrono::milliseconds timeout) {
  Outcome outcome;
  const auto deadline = Clock::now() + timeout;
  int wait_status = 0;
  for (;;) {
    drain(std::chrono::milliseconds(20));
    pid_t done = ::waitpid(child_, &wait_status, WNOHANG);
    if (done == child_) break;
    if (Clock::now() > deadline) {
      ::kill(program_, SIGKILL);
      ::waitpid(child_, &wait_status, 0);
      break;
    }
  }
  child_ = -1;
  program_ = -1;
  for (int i = 0; i < 50; ++i) drain(std::chrono::milliseconds(5));
  set_status(outcome, wait_status);
  outcome.out = output_;
  return outcome;
}

}  // namespace jxtest

#include "jx/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace jx {
namespace {

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ};

// The temporary file that a signal must not leave behind. Programs write one output at a
// time, so one slot is enough.
volatile sig_atomic_t pending_active = 0;
const char* volatile pending_path = nullptr;
struct sigaction saved_actions[std::size(kCleanupSignals)];
bool saved_installed[std::size(kCleanupSignals)];

void remove_pending_and_reraise(int signal_number) {
  if (pending_active) ::unlink(pending_path);
  pending_active = 0;
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal_number, &fallback, nullptr);
  ::raise(signal_number);
}

void watch(const char* path) {
  pending_path = path;
  pending_active = 1;
  for (std::size_t i = 0; i < std::size(kCleanupSignals); ++i) {
    struct sigaction current {};
    ::sigaction(kCleanupSignals[i], nullptr, &current);
    saved_installed[i] = current.sa_handler != SIG_IGN;
    if (!saved_installed[i]) continue;
    saved_actions[i] = current;
    struct sigaction action {};
    action.sa_handler = remove_pending_and_reraise;
    sigemptyset(&action.sa_mask);
    ::sigaction(kCleanupSignals[i], &action, nullptr);
  }
}

void unwatch() {
  pending_active = 0;
  for (std::size_t i = 0; i < std::size(kCleanupSignals); ++i) {
    if (saved_installed[i]) ::sigaction(kCleanupSignals[i], &saved_actions[i], nullptr);
    saved_installed[i] = false;
  }
  pending_path = nullptr;
}

std::string directory_of(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string temporary_name(const std::string& target, unsigned attempt) {
  auto slash = target.find_last_of('/');
  std::string prefix = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  if (base.size() > 200) base.resize(200);
  return prefix + "." + base + "." + std::to_string(::getpid()) + "-" + std::to_string(attempt) +
         ".tmp";
}

Status sync_directory(const std::string& path) {
  int fd = ::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Done{};  // the data are safe; the directory entry is the system's care
  ::fsync(fd);
  ::close(fd);
  return Done{};
}

Status claim_name(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return Done{};
  }
  if (errno != EINVAL && errno != ENOSYS) return IoError::os(errno);
  // File systems without renameat2: a hard link also refuses an existing name.
  if (::link(from.c_str(), to.c_str()) != 0) return IoError::os(errno);
  // The data now stand under their real name; a temporary name that cannot be removed is
  // only a second name for them, so it does not fail the write.
  ::unlink(from.c_str());
  return Done{};
}

// Holds back the cleanup signals between creating a temporary file and watching it.
class CleanupSignalsBlocked {
 public:
  CleanupSignalsBlocked() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal_number : kCleanupSignals) sigaddset(&blocked, signal_number);
    ::sigprocmask(SIG_BLOCK, &blocked, &previous_);
  }
  ~CleanupSignalsBlocked() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  CleanupSignalsBlocked(const CleanupSignalsBlocked&) = delete;
  CleanupSignalsBlocked& operator=(const CleanupSignalsBlocked&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace

Result<OutputFile> OutputFile::create(std::string target, mode_t mode, bool exact_mode) {
  CleanupSignalsBlocked blocked;
  for (unsigned attempt = 0;; ++attempt) {
    std::string temporary = temporary_name(target, attempt);
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    mode);
    if (fd < 0 && errno == EEXIST && attempt < 1000) continue;
    if (fd < 0) return IoError::os(errno);
    OutputFile output(std::move(target), std::move(temporary), File(fd));
    if (exact_mode && ::fchmod(fd, mode) != 0) return IoError::os(errno);
    return output;
  }
}

OutputFile::OutputFile(std::string target, std::string temporary, File file)
    : target_(std::move(target)), temporary_(std::move(temporary)), file_(std::move(file)) {
  watch(temporary_.c_str());
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      file_(std::move(other.file_)),
      committed_(std::exchange(other.committed_, true)) {
  if (!committed_) pending_path = temporary_.c_str();
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
  if (committed_) return;
  committed_ = true;
  file_.close();
  ::unlink(temporary_.c_str());
  unwatch();
}

Status OutputFile::commit(bool replace, bool sync) {
  if (sync && ::fsync(file_.fd()) != 0) {
    int code = errno;
    discard();
    return IoError::os(code);
  }
  if (::close(file_.release()) != 0) {
    int code = errno;
    discard();
    return IoError::os(code);
  }
  Status named = Done{};
  if (replace) {
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) named = IoError::os(errno);
  } else {
    named = claim_name(temporary_, target_);
  }
  if (!named) {
    discard();
    return named;
  }
  committed_ = true;
  unwatch();
  if (sync) return sync_directory(target_);
  return Done{};
}

}  // namespace jx

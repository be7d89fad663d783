#include "jx/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <utility>
#include <vector>

#include "ending_signals.h"

namespace jx {
namespace {

// The temporary name that a signal must not leave behind, relative to its directory.
// Programs write one output at a time, so one slot is enough.
volatile sig_atomic_t pending_directory = -1;
char pending_name[256];

void remove_pending_and_reraise(int signal_number) {
  if (pending_directory >= 0) ::unlinkat(pending_directory, pending_name, 0);
  pending_directory = -1;
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal_number, &fallback, nullptr);
  ::raise(signal_number);
}

// Puts the cleanup in front of every signal that would end the process, once for the whole
// run.
void install_cleanup_handlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int signal_number : ending_signals()) {
    struct sigaction current {};
    ::sigaction(signal_number, nullptr, &current);
    if (!may_take_over(signal_number, current)) continue;
    struct sigaction action {};
    action.sa_handler = remove_pending_and_reraise;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal_number, &action, nullptr);
  }
}

// Holds back the cleanup signals while the pending slot and the names it stands for change.
class CleanupSignalsBlocked {
 public:
  CleanupSignalsBlocked() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal_number : ending_signals()) sigaddset(&blocked, signal_number);
    ::sigprocmask(SIG_BLOCK, &blocked, &previous_);
  }
  ~CleanupSignalsBlocked() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  CleanupSignalsBlocked(const CleanupSignalsBlocked&) = delete;
  CleanupSignalsBlocked& operator=(const CleanupSignalsBlocked&) = delete;

 private:
  sigset_t previous_;
};

// Called with the cleanup signals blocked.
void mark_pending(int directory, const std::string& name) {
  ::strncpy(pending_name, name.c_str(), sizeof pending_name - 1);
  pending_directory = directory;
}

void clear_pending() { pending_directory = -1; }

std::string directory_of(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string temporary_name(std::string base, unsigned attempt) {
  if (base.size() > 200) base.resize(200);
  return "." + base + "." + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".tmp";
}

// The directory, readable so that it can be flushed, or only for lookups when it cannot be
// read.
Result<File> open_directory(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return IoError::os(errno);
  return File(fd);
}

std::string proc_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool same_file(const struct stat& one, const struct stat& other) {
  return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// Only a file that can be named through /proc later is worth creating without a name.
bool can_be_named_later(int fd) {
  struct stat opened, through_proc;
  return ::fstat(fd, &opened) == 0 && ::stat(proc_path(fd).c_str(), &through_proc) == 0 &&
         same_file(opened, through_proc);
}

// A file without a name in the directory; nullopt where the file system cannot make one.
Result<std::optional<File>> create_unnamed(int directory, mode_t mode) {
  int fd = ::openat(directory, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, mode);
  if (fd < 0) {
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
      return std::optional<File>();
    }
    return IoError::os(errno);
  }
  File file(fd);
  if (!can_be_named_later(fd)) return std::optional<File>();
  return std::optional<File>(std::move(file));
}

// A file under a fresh temporary name in the directory, watched by the cleanup signals.
Result<File> create_named(int directory, const std::string& base, mode_t mode,
                          std::string& temporary) {
  for (unsigned attempt = 0;; ++attempt) {
    temporary = temporary_name(base, attempt);
    CleanupSignalsBlocked blocked;
    int fd = ::openat(directory, temporary.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0) {
      mark_pending(directory, temporary);
      return File(fd);
    }
    if (errno != EEXIST || attempt >= 1000) return IoError::os(errno);
  }
}

// Directories that received a name and are not yet flushed, each open once.
struct Remembered {
  File directory;
  dev_t device;
  ino_t inode;
};
std::vector<Remembered> remembered;
std::optional<IoError> earlier_sync_failure;
constexpr std::size_t kMostRemembered = 64;

Status sync_one(int directory) {
  if (::fsync(directory) == 0) return Done{};
  // A directory open only for lookups, or a file system that does not flush directories:
  // the data are safe and the entry is the system's care.
  if (errno == EBADF || errno == EINVAL) return Done{};
  return IoError::os(errno);
}

void remember_directory(int directory) {
  struct stat info;
  if (::fstat(directory, &info) != 0) return;
  for (const auto& entry : remembered) {
    if (entry.device == info.st_dev && entry.inode == info.st_ino) return;
  }
  if (remembered.size() >= kMostRemembered) {
    if (auto synced = OutputFile::sync_directories(); !synced && !earlier_sync_failure) {
      earlier_sync_failure = synced.error();
    }
  }
  int copy = ::fcntl(directory, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) {
    if (auto synced = sync_one(directory); !synced && !earlier_sync_failure) {
      earlier_sync_failure = synced.error();
    }
    return;
  }
  remembered.push_back({File(copy), info.st_dev, info.st_ino});
}

}  // namespace

Result<OutputFile> OutputFile::create(const std::string& target, mode_t mode, bool exact_mode) {
  install_cleanup_handlers();
  auto directory = open_directory(directory_of(target));
  if (!directory) return directory.error();
  const int directory_fd = directory.value().fd();
  std::string base = base_of(target);
  std::string temporary;
  auto unnamed = create_unnamed(directory_fd, mode);
  if (!unnamed) return unnamed.error();
  File file;
  if (unnamed.value()) {
    file = std::move(*unnamed.value());
  } else {
    auto named = create_named(directory_fd, base, mode, temporary);
    if (!named) return named.error();
    file = std::move(named.value());
  }
  OutputFile output(std::move(directory.value()), std::move(base), std::move(temporary),
                    std::move(file));
  if (exact_mode && ::fchmod(output.file_.fd(), mode) != 0) return IoError::os(errno);
  return output;
}

OutputFile::OutputFile(File directory, std::string name, std::string temporary, File file)
    : directory_(std::move(directory)),
      name_(std::move(name)),
      temporary_(std::move(temporary)),
      file_(std::move(file)) {}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : directory_(std::move(other.directory_)),
      name_(std::move(other.name_)),
      temporary_(std::move(other.temporary_)),
      file_(std::move(other.file_)),
      committed_(std::exchange(other.committed_, true)) {}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
  if (committed_) return;
  committed_ = true;
  file_.close();
  CleanupSignalsBlocked blocked;
  if (!temporary_.empty()) ::unlinkat(directory_.fd(), temporary_.c_str(), 0);
  clear_pending();
}

Status OutputFile::commit(bool replace) {
  if (::fdatasync(file_.fd()) != 0) {
    int code = errno;
    discard();
    return IoError::os(code);
  }
  Status named = temporary_.empty() ? link_unnamed(replace) : rename_temporary(replace);
  if (!named) {
    discard();
    return named;
  }
  committed_ = true;
  {
    CleanupSignalsBlocked blocked;
    clear_pending();
  }
  file_.close();
  remember_directory(directory_.fd());
  return Done{};
}

Status OutputFile::link_unnamed(bool replace) {
  const std::string source = proc_path(file_.fd());
  const int directory = directory_.fd();
  if (!replace) {
    if (::linkat(AT_FDCWD, source.c_str(), directory, name_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      return IoError::os(errno);
    }
    return Done{};
  }
  // A replacement takes a temporary name first, so that the old file goes in one step.
  for (unsigned attempt = 0;; ++attempt) {
    std::string temporary = temporary_name(name_, attempt);
    CleanupSignalsBlocked blocked;
    mark_pending(directory, temporary);
    if (::linkat(AT_FDCWD, source.c_str(), directory, temporary.c_str(), AT_SYMLINK_FOLLOW) ==
        0) {
      temporary_ = std::move(temporary);
      break;
    }
    const int code = errno;
    clear_pending();
    if (code != EEXIST || attempt >= 1000) return IoError::os(code);
  }
  return rename_temporary(true);
}

Status OutputFile::rename_temporary(bool replace) {
  const int directory = directory_.fd();
  const char* from = temporary_.c_str();
  const char* to = name_.c_str();
  if (replace) {
    if (::renameat(directory, from, directory, to) != 0) return IoError::os(errno);
    return Done{};
  }
  if (::renameat2(directory, from, directory, to, RENAME_NOREPLACE) == 0) return Done{};
  if (errno != EINVAL && errno != ENOSYS) return IoError::os(errno);
  // File systems without renameat2: a hard link also refuses an existing name.
  if (::linkat(directory, from, directory, to, 0) != 0) return IoError::os(errno);
  // The data now stand under their real name; a temporary name that cannot be removed is
  // only a second name for them, so it does not fail the write.
  ::unlinkat(directory, from, 0);
  return Done{};
}

Status OutputFile::sync_directories() {
  std::optional<IoError> failure = std::exchange(earlier_sync_failure, std::nullopt);
  for (const auto& entry : remembered) {
    if (auto synced = sync_one(entry.directory.fd()); !synced && !failure) {
      failure = synced.error();
    }
  }
  remembered.clear();
  if (failure) return *failure;
  return Done{};
}

}  // namespace jx

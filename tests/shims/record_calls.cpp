// Preloaded into a program, writes the calls that make an output durable to the file named by
// JX_CALL_LOG, one line each: "data INODE" when a file's data are flushed, "directory INODE"
// when a directory is, "writeback INODE" when a file's data are sent on their way to disk
// without waiting, "name INODE NAME" when a file takes a name, and "exit" when the program
// ends. With JX_NO_TMPFILE set, files without a name cannot be created, as on file
// systems that do not offer them.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

template <class Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

void record(const std::string& line) {
  const char* log = getenv("JX_CALL_LOG");
  if (log == nullptr) return;
  const int saved = errno;
  using OpenFunction = int (*)(const char*, int, ...);
  const int fd = next<OpenFunction>("open")(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) {
    const std::string text = line + "\n";
    if (write(fd, text.data(), text.size()) < 0) {
      // nothing to do: the test sees the line missing
    }
    close(fd);
  }
  errno = saved;
}

void record_flush(int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0) return;
  record(std::string(S_ISDIR(info.st_mode) ? "directory " : "data ") +
         std::to_string(info.st_ino));
}

void record_name(int directory, const char* name) {
  struct stat info;
  if (fstatat(directory, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return;
  const char* slash = strrchr(name, '/');
  record("name " + std::to_string(info.st_ino) + " " + (slash ? slash + 1 : name));
}

bool refused_tmpfile(int flags) {
  if ((flags & O_TMPFILE) != O_TMPFILE || getenv("JX_NO_TMPFILE") == nullptr) return false;
  errno = EOPNOTSUPP;
  return true;
}

mode_t mode_argument(int flags, va_list arguments) {
  const bool takes_mode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
  return takes_mode ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

using OpenatFunction = int (*)(int, const char*, int, ...);

int openat_with(const char* name, int directory, const char* path, int flags, mode_t mode) {
  if (refused_tmpfile(flags)) return -1;
  return next<OpenatFunction>(name)(directory, path, flags, mode);
}

__attribute__((destructor)) void at_exit() { record("exit"); }

}  // namespace

extern "C" {

int openat(int directory, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  return openat_with("openat", directory, path, flags, mode);
}

int openat64(int directory, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  return openat_with("openat64", directory, path, flags, mode);
}

int fsync(int fd) {
  const int result = next<int (*)(int)>("fsync")(fd);
  if (result == 0) record_flush(fd);
  return result;
}

int fdatasync(int fd) {
  const int result = next<int (*)(int)>("fdatasync")(fd);
  if (result == 0) record_flush(fd);
  return result;
}

int sync_file_range(int fd, off64_t offset, off64_t size, unsigned int flags) {
  using Function = int (*)(int, off64_t, off64_t, unsigned int);
  const int result = next<Function>("sync_file_range")(fd, offset, size, flags);
  struct stat info;
  if (result == 0 && fstat(fd, &info) == 0) record("writeback " + std::to_string(info.st_ino));
  return result;
}

int linkat(int from_directory, const char* from, int to_directory, const char* to, int flags) {
  using Function = int (*)(int, const char*, int, const char*, int);
  const int result = next<Function>("linkat")(from_directory, from, to_directory, to, flags);
  if (result == 0) record_name(to_directory, to);
  return result;
}

int link(const char* from, const char* to) {
  const int result = next<int (*)(const char*, const char*)>("link")(from, to);
  if (result == 0) record_name(AT_FDCWD, to);
  return result;
}

int renameat(int from_directory, const char* from, int to_directory, const char* to) {
  using Function = int (*)(int, const char*, int, const char*);
  const int result = next<Function>("renameat")(from_directory, from, to_directory, to);
  if (result == 0) record_name(to_directory, to);
  return result;
}

int renameat2(int from_directory, const char* from, int to_directory, const char* to,
              unsigned flags) {
  using Function = int (*)(int, const char*, int, const char*, unsigned);
  const int result = next<Function>("renameat2")(from_directory, from, to_directory, to, flags);
  if (result == 0) record_name(to_directory, to);
  return result;
}

int rename(const char* from, const char* to) {
  const int result = next<int (*)(const char*, const char*)>("rename")(from, to);
  if (result == 0) record_name(AT_FDCWD, to);
  return result;
}

}  // extern "C"

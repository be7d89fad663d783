// Preloaded into a program, takes away the operating system's randomness: getentropy fails
// with ENOSYS and "/dev/random" cannot be found. Every other file opens as usual.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>

namespace {

bool hidden(const char* path) {
  return path != nullptr && strcmp(path, "/dev/random") == 0;
}

// The next definition of a function, the one this library stands in front of.
template <class Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Open calls take a mode only when they may create a file.
bool takes_mode(int flags) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

mode_t mode_argument(int flags, va_list arguments) {
  return takes_mode(flags) ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

using OpenFunction = int (*)(const char*, int, ...);
using OpenatFunction = int (*)(int, const char*, int, ...);
using FortifiedOpenFunction = int (*)(const char*, int);
using FopenFunction = FILE* (*)(const char*, const char*);

int open_with(const char* name, const char* path, int flags, mode_t mode) {
  if (hidden(path)) {
    errno = ENOENT;
    return -1;
  }
  return next<OpenFunction>(name)(path, flags, mode);
}

int fortified_open_with(const char* name, const char* path, int flags) {
  if (hidden(path)) {
    errno = ENOENT;
    return -1;
  }
  return next<FortifiedOpenFunction>(name)(path, flags);
}

FILE* fopen_with(const char* name, const char* path, const char* mode) {
  if (hidden(path)) {
    errno = ENOENT;
    return nullptr;
  }
  return next<FopenFunction>(name)(path, mode);
}

}  // namespace

extern "C" {

int getentropy(void*, size_t) {
  errno = ENOSYS;
  return -1;
}

int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  return open_with("open", path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  return open_with("open64", path, flags, mode);
}

int openat(int directory, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  if (hidden(path)) {
    errno = ENOENT;
    return -1;
  }
  return next<OpenatFunction>("openat")(directory, path, flags, mode);
}

int __open_2(const char* path, int flags) {
  return fortified_open_with("__open_2", path, flags);
}

int __open64_2(const char* path, int flags) {
  return fortified_open_with("__open64_2", path, flags);
}

FILE* fopen(const char* path, const char* mode) {
  return fopen_with("fopen", path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
  return fopen_with("fopen64", path, mode);
}

}  // extern "C"

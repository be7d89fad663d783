#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>

#include "jx/file.h"
#include "jx/io_error.h"

namespace jx {

// A file written without its real name, in its target's directory, and given that name only
// by commit(), so that a failed or interrupted write never leaves a half-written file and
// never destroys the file that was there before. Where the file system allows it the file
// has no name at all until then, so that not even SIGKILL leaves anything; elsewhere it has a
// temporary name that is removed when the value goes out of scope, and also when the process
// is ended by a signal whose default action ends it (SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGPIPE, SIGXFSZ, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF). Every name is made and
// removed relative to the directory as it was opened at creation, wherever it moves later.
class OutputFile {
 public:
  // Creates the unnamed or temporary file for `target`. `mode` is applied exactly when
  // `exact_mode`, otherwise as reduced by the process's file-creation mask.
  static Result<OutputFile> create(const std::string& target, mode_t mode, bool exact_mode);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&&) = delete;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  File& file() { return file_; }
  Status write_all(std::span<const std::uint8_t> bytes) { return file_.write_all(bytes); }

  // Flushes the data to the disk and then gives the file its real name. With `replace` an
  // existing file there is replaced in one step; without it an existing file is an
  // AlreadyExists error and stays as it is. The directory is remembered for
  // sync_directories().
  Status commit(bool replace);

  // Flushes every directory that received a name since the last call, so that the names
  // survive a crash; a program calls it once before it reports success.
  static Status sync_directories();

 private:
  OutputFile(File directory, std::string name, std::string temporary, File file);
  Status link_unnamed(bool replace);
  Status rename_temporary(bool replace);
  void discard();

  File directory_;
  std::string name_;       // the final name, within directory_
  std::string temporary_;  // the temporary name within directory_, "" while unnamed
  File file_;
  bool committed_ = false;
};

}  // namespace jx

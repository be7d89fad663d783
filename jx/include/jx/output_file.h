#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>

#include "jx/file.h"
#include "jx/io_error.h"

namespace jx {

// A file written under a temporary name in its target's directory and given its real name
// only by commit(), so that a failed or interrupted write never leaves a half-written file
// and never destroys the file that was there before. Until then the temporary file is
// removed when the value goes out of scope, and also when the process is ended by SIGINT,
// SIGTERM, SIGHUP, SIGQUIT, SIGPIPE or SIGXFSZ.
class OutputFile {
 public:
  // Creates the temporary file for `target`. `mode` is applied exactly when `exact_mode`,
  // otherwise as reduced by the process's file-creation mask.
  static Result<OutputFile> create(std::string target, mode_t mode, bool exact_mode);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&&) = delete;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  File& file() { return file_; }
  Status write_all(std::span<const std::uint8_t> bytes) { return file_.write_all(bytes); }

  // Gives the file its real name. With `replace` an existing file there is replaced in one
  // step; without it an existing file is an AlreadyExists error and stays as it is. With
  // `sync` the data reach the disk before the name does.
  Status commit(bool replace, bool sync);

  const std::string& temporary_path() const { return temporary_; }

 private:
  OutputFile(std::string target, std::string temporary, File file);
  void discard();

  std::string target_;
  std::string temporary_;
  File file_;
  bool committed_ = false;
};

}  // namespace jx

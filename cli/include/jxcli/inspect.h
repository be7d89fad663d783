#pragma once

#include <string>
#include <string_view>

#include "jx/file.h"

namespace jxcli {

// Where a report goes, piece by piece as it is made, so that what was printed before a report
// stops stays printed.
class Printer {
 public:
  virtual ~Printer() = default;
  virtual void print(std::string_view text) = 0;
};

// Writes every piece to standard output at once.
class StdoutPrinter final : public Printer {
 public:
  void print(std::string_view text) override;
};

// Keeps everything printed, for tests and fuzzing.
class StringPrinter final : public Printer {
 public:
  void print(std::string_view text) override { text_.append(text); }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// Reads the 3-byte magic of an open file and prints the report it selects. Returns the exit
// status: 0 when a whole report was printed, 1 when the magic cannot be read, is not UTF-8 or
// is not recognised, or when the report stops at a field it cannot read.
int inspect(jx::File file, Printer& out);

// The stream report and the key report, on a file positioned just after its magic. They close
// the file and return the exit status as `inspect` does.
int inspect_jxd(jx::File file, Printer& out);
int inspect_jxk(jx::File file, Printer& out);

}  // namespace jxcli

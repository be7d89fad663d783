// The inspector's two reports on arbitrary bytes, through its dispatch on the magic and
// straight on a file positioned after one.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bytes.h"
#include "jxcli/inspect.h"
#include "memory_file.h"

namespace {

using jxtest::big_endian_at;
using jxtest::memory_file;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Every report ends on a whole line, and a whole report ends with its last field.
void check(int status, const std::string& text, const char* last_field) {
  if (status != 0 && status != 1) std::abort();
  if (text.empty() || text.back() != '\n') std::abort();
  if (status == 0 && !contains(text, last_field)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    jxcli::StringPrinter out;
    const int status = jxcli::inspect(memory_file({data, size}), out);
    const std::string& text = out.text();
    if (status == 0 && !contains(text, "filetype:")) std::abort();
    // The sizes of a whole stream report are those of the file and of its footer.
    if (status == 0 && contains(text, "JXD") && contains(text, "surplus bytes:")) {
      if (!contains(text, "file size:          " + std::to_string(size) + "\n")) std::abort();
      if (!contains(text, "original data size: " +
                              std::to_string(big_endian_at({data, size}, size - 8)) + "\n")) {
        std::abort();
      }
    }
    check(status, text, "\n");
  }
  {
    jxcli::StringPrinter out;
    check(jxcli::inspect_jxd(memory_file({data, size}), out), out.text(), "surplus bytes:");
  }
  {
    jxcli::StringPrinter out;
    check(jxcli::inspect_jxk(memory_file({data, size}), out), out.text(), "key (s):");
  }
  return 0;
}

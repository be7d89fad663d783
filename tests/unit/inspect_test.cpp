#include "jxcli/inspect.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace {

// A descriptor that seeks but cannot be read: a write-only view of an in-memory file that
// holds a whole key file's worth of bytes.
jx::File unreadable_file() {
  const int memory = ::memfd_create("inspect", 0);
  EXPECT_GE(memory, 0);
  const std::string bytes(292, 'x');
  EXPECT_EQ(::write(memory, bytes.data(), bytes.size()), 292);
  const int view = ::open(("/proc/self/fd/" + std::to_string(memory)).c_str(), O_WRONLY);
  ::close(memory);
  EXPECT_GE(view, 0);
  return jx::File(view);
}

TEST(InspectTest, AFailedReadEndsTheReportWithTheSystemError) {
  const std::string error =
      "Cannot read file: Os { code: 9, kind: Uncategorized, message: \"Bad file descriptor\" }\n";
  struct Case {
    const char* name;
    std::function<int(jx::File, jxcli::Printer&)> report;
    std::string output;
  };
  const Case cases[] = {
      {"magic", jxcli::inspect, error},
      {"stream version", jxcli::inspect_jxd,
       "filetype:           JXD (JX encrypted data stream)\n***Position version : 0\n" + error},
      {"key version", jxcli::inspect_jxk, "filetype:           JXK (JX key)\n" + error},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    jxcli::StringPrinter out;
    EXPECT_EQ(c.report(unreadable_file(), out), 1);
    EXPECT_EQ(out.text(), c.output);
  }
}

}  // namespace

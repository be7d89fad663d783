// jxview: prints a field-by-field report of a key file or a stream file.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "jx/file.h"
#include "jxcli/args.h"
#include "jxcli/core_dumps.h"
#include "jxcli/inspect.h"

namespace {

constexpr const char* kBanner = "libJX file inspection utility (1.0.0)\n\n";
constexpr const char* kUsage =
    "  Usage: jxview file(key or stream)\n\n"
    "  For more details consult the manual: \"man jxview\"\n\n";

int run(int argc, char** argv) {
  jxcli::forbid_core_dumps();
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  jxcli::StdoutPrinter out;
  out.print(kBanner);
  const std::vector<std::string> arguments = jxcli::arguments_of(argc, argv);
  if (arguments.empty()) {
    out.print(kUsage);
    return jxcli::finish("jxview", 2);
  }
  // Only the first argument names the file; the others are ignored whatever they hold.
  if (auto problem = jxcli::argument_problem(arguments[0], 1)) {
    jxcli::refuse(stdout, "jxview", *problem);
  }
  auto file = jx::File::open_read(arguments[0]);
  if (!file) {
    out.print("Cannot open file " + file.error().detailed_form() + "\n");
    return jxcli::finish("jxview", 1);
  }
  return jxcli::finish("jxview", jxcli::inspect(std::move(file).value(), out));
}

}  // namespace

int main(int argc, char** argv) { return jxcli::guarded("jxview", run, argc, argv); }

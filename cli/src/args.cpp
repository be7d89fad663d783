#include "jxcli/args.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <new>

#include "jx/output_file.h"
#include "jx/utf8.h"
#include "jxcli/memory_reserve.h"

namespace jxcli {

std::vector<std::string> arguments_of(int argc, char** argv) {
  if (argc <= 1) return {};
  return std::vector<std::string>(argv + 1, argv + argc);
}

std::optional<std::string> argument_problem(const std::string& argument, std::size_t position) {
  if (argument.empty()) return "argument " + std::to_string(position) + " is empty";
  if (!jx::is_utf8(argument)) {
    return "argument " + std::to_string(position) + " is not valid UTF-8";
  }
  return std::nullopt;
}

std::optional<std::string> first_argument_problem(const std::vector<std::string>& arguments,
                                                  const std::vector<std::size_t>& allowed_empty) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const bool may_be_empty =
        std::find(allowed_empty.begin(), allowed_empty.end(), i) != allowed_empty.end();
    if (may_be_empty && arguments[i].empty()) continue;
    if (auto problem = argument_problem(arguments[i], i + 1)) return problem;
  }
  return std::nullopt;
}

void refuse(std::FILE* stream, const char* program, const std::string& why) {
  std::fflush(stdout);
  std::fprintf(stream, "%s: %s\n", program, why.c_str());
  std::fflush(stream);
  std::exit(2);
}

int finish(const char* program, int status) {
  if (auto synced = jx::OutputFile::sync_directories(); !synced) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: cannot flush an output directory: %s\n", program,
                 synced.error().message_form().c_str());
    if (status == 0) status = 1;
  }
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  std::fprintf(stderr, "%s: cannot write standard output\n", program);
  return status == 0 ? 1 : status;
}

int guarded(const char* program, int (*body)(int, char**), int argc, char** argv) {
  // Without even the reserve, nothing could be reported by an exception: say so at once.
  const char* why = "out of memory";
  try {
    if (keep_memory_reserve()) return body(argc, argv);
  } catch (const std::bad_alloc&) {
    why = "out of memory";
  } catch (const std::exception& failure) {
    why = failure.what();
  } catch (...) {
    why = "unexpected failure";
  }
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", program, why);
  return 1;
}

}  // namespace jxcli

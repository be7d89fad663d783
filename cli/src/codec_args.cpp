#include "jxcli/codec_args.h"

#include <charconv>

namespace jxcli {
namespace {

// Takes the argument after position `at` as the key path; false when there is none.
bool take_key_path(const std::vector<std::string>& arguments, std::size_t& at,
                   CodecCommand& command) {
  if (at + 1 >= arguments.size()) {
    command.key_path_missing = true;
    return false;
  }
  ++at;
  command.key_path = arguments[at];
  command.key_path_at.push_back(at);
  return true;
}

// Takes the argument after position `at` as the thread count, a number from 1 up; the first
// value that is not one is the command's problem.
void take_thread_count(const std::vector<std::string>& arguments, std::size_t& at,
                       CodecCommand& command) {
  std::string problem;
  if (at + 1 >= arguments.size()) {
    problem = "--threads needs a number of threads";
  } else {
    const std::string& value = arguments[++at];
    std::size_t count = 0;
    const auto [end, failure] = std::from_chars(value.data(), value.data() + value.size(), count);
    if (failure == std::errc{} && end == value.data() + value.size() && count > 0) {
      command.threads = count;
      return;
    }
    problem = "--threads takes a positive whole number, not \"" + value + "\"";
  }
  if (command.threads_problem.empty()) command.threads_problem = problem;
}

bool apply_long_option(const std::string& argument, Codec codec, CodecCommand& command) {
  if (argument == "--force") {
    command.force = true;
  } else if (argument == "--verbose") {
    command.verbose = true;
  } else if (argument == "--stdout") {
    command.to_stdout = true;
  } else if (codec == Codec::Encoder && argument == "--partial") {
    command.partial = true;
  } else if (codec == Codec::Encoder && argument == "--inflate") {
    command.inflate = true;
  } else {
    return false;
  }
  return true;
}

// Applies a flag group; false when one of its k letters found no key path.
bool apply_flag_group(const std::vector<std::string>& arguments, std::size_t& at, Codec codec,
                      CodecCommand& command) {
  const std::string& group = arguments[at];
  for (char c : group) {
    if (c == 'F') command.force = true;
    if (c == 'V') command.verbose = true;
    if (codec == Codec::Encoder && c == 'p') command.partial = true;
    if (codec == Codec::Encoder && c == 'i') command.inflate = true;
    if (c == 'k' && !take_key_path(arguments, at, command)) return false;
  }
  return true;
}

}  // namespace

bool ends_with_stream_suffix(const std::string& name) {
  return name.size() >= 4 && name.compare(name.size() - 4, 4, ".jxd") == 0;
}

CodecCommand scan_codec_arguments(const std::vector<std::string>& arguments, Codec codec) {
  CodecCommand command;
  for (std::size_t at = 0; at < arguments.size(); ++at) {
    const std::string& argument = arguments[at];
    if (argument == "--key") {
      if (!take_key_path(arguments, at, command)) break;
    } else if (argument == "--threads") {
      take_thread_count(arguments, at, command);
    } else if (apply_long_option(argument, codec, command)) {
      continue;
    } else if (!argument.empty() && argument[0] == '-') {
      if (!apply_flag_group(arguments, at, codec, command)) break;
    } else if (codec == Codec::Encoder && ends_with_stream_suffix(argument)) {
      if (command.verbose) command.notices.push_back("Ignoring : " + argument + "\n");
    } else {
      command.files.push_back(argument);
    }
  }
  return command;
}

}  // namespace jxcli

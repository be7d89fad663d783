#include "jxcli/keygen_args.h"

namespace jxcli {

KeygenMode KeygenCommand::mode() const {
  if (random) return KeygenMode::Random;
  if (file) return KeygenMode::File;
  if (inline_) return KeygenMode::Inline;
  return KeygenMode::Prompt;
}

KeygenCommand scan_keygen_arguments(const std::vector<std::string>& arguments) {
  KeygenCommand command;
  for (const std::string& argument : arguments) {
    if (argument == "--file") {
      command.file = true;
    } else if (argument == "--random") {
      command.random = true;
    } else if (argument == "--inline") {
      command.inline_ = true;
    } else if (!argument.empty() && argument[0] == '-') {
      for (char c : argument) {
        if (c == 'r') command.random = true;
        if (c == 'f') command.file = true;
        if (c == 'i') command.inline_ = true;
      }
    } else {
      command.positional.push_back(argument);
    }
  }
  return command;
}

}  // namespace jxcli

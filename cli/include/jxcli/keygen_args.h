#pragma once

#include <deque>
#include <string>
#include <vector>

namespace jxcli {

// Where jxkey takes its key from; the first mode whose flag is set wins, in this order.
enum class KeygenMode { Random, File, Inline, Prompt };

// jxkey's command line: three flags and the arguments that are not flags, in order.
struct KeygenCommand {
  bool random = false;
  bool file = false;
  bool inline_ = false;
  std::deque<std::string> positional;

  KeygenMode mode() const;
};

// "--random", "--file" and "--inline" are taken whole; any other argument that starts with
// "-" is a flag group whose letters r, f and i set the flags, every other character ignored.
KeygenCommand scan_keygen_arguments(const std::vector<std::string>& arguments);

}  // namespace jxcli

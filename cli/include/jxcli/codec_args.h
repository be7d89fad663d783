#pragma once

#include <string>
#include <vector>

namespace jxcli {

// The settings of jxenc's and jxdec's command lines.
struct CodecCommand {
  std::vector<std::string> files;
  std::string key_path;                  // empty: the password is asked for
  std::vector<std::size_t> key_path_at;  // argument positions (from 0) taken as key paths
  bool force = false;
  bool verbose = false;
  bool partial = false;
  bool inflate = false;
  bool to_stdout = false;                // "--stdout": the result goes to standard output
  bool key_path_missing = false;         // "--key" or k found no argument left
  std::size_t threads = 0;               // from "--threads N"; 0: as many as help
  std::string threads_problem;           // why the value of "--threads" cannot be used
  std::vector<std::string> notices;      // "Ignoring : NAME\n" lines, in order
};

// Which of the two programs reads the command line: only the encoder knows p and i and
// skips names that already end in ".jxd".
enum class Codec { Encoder, Decoder };

// Reads the arguments from left to right; settings take effect from their position on.
// Scanning stops at a key option that finds no value.
CodecCommand scan_codec_arguments(const std::vector<std::string>& arguments, Codec codec);

bool ends_with_stream_suffix(const std::string& name);

}  // namespace jxcli

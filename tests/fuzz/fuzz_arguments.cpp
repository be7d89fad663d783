// The argument scanners and checks of jxkey, jxenc and jxdec on arbitrary argument lists:
// the input is split at its zero bytes into arguments.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "jx/utf8.h"
#include "jxcli/args.h"
#include "jxcli/codec_args.h"
#include "jxcli/keygen_args.h"

namespace {

using Arguments = std::vector<std::string>;

Arguments split(const std::uint8_t* data, std::size_t size) {
  Arguments arguments;
  if (size == 0) return arguments;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::size_t from = 0;
  for (;;) {
    const std::size_t zero = text.find('\0', from);
    arguments.emplace_back(text.substr(from, zero - from));
    if (zero == std::string_view::npos) break;
    from = zero + 1;
  }
  return arguments;
}

bool is_flag_group(const std::string& argument) {
  return !argument.empty() && argument[0] == '-';
}

// `part` appears in `whole` in the same order.
template <class Sequence>
bool is_subsequence(const Sequence& part, const Arguments& whole) {
  auto at = whole.begin();
  for (const auto& item : part) {
    at = std::find(at, whole.end(), item);
    if (at == whole.end()) return false;
    ++at;
  }
  return true;
}

// jxkey keeps every argument that is not a flag group, in order, and nothing else.
void check_keygen(const Arguments& arguments) {
  const jxcli::KeygenCommand command = jxcli::scan_keygen_arguments(arguments);
  const auto plain = std::count_if(arguments.begin(), arguments.end(),
                                   [](const std::string& a) { return !is_flag_group(a); });
  if (static_cast<std::size_t>(plain) != command.positional.size()) std::abort();
  if (!is_subsequence(command.positional, arguments)) std::abort();
  if (std::any_of(command.positional.begin(), command.positional.end(), is_flag_group)) {
    std::abort();
  }
  const bool any = command.random || command.file || command.inline_;
  if (any == (command.mode() == jxcli::KeygenMode::Prompt)) std::abort();
  if (command.random && command.mode() != jxcli::KeygenMode::Random) std::abort();
}

bool is_key_option(const std::string& argument) {
  return argument == "--key" || (is_flag_group(argument) && argument.find('k') != argument.npos);
}

bool is_long_option(const std::string& argument, jxcli::Codec codec) {
  if (argument == "--force" || argument == "--verbose" || argument == "--stdout") return true;
  return codec == jxcli::Codec::Encoder && (argument == "--partial" || argument == "--inflate");
}

void check_key_paths(const Arguments& arguments, const jxcli::CodecCommand& command) {
  const auto& at = command.key_path_at;
  if (!std::is_sorted(at.begin(), at.end()) ||
      std::adjacent_find(at.begin(), at.end()) != at.end()) {
    std::abort();
  }
  for (std::size_t position : at) {
    if (position == 0 || position >= arguments.size()) std::abort();
    if (!is_key_option(arguments[position - 1]) &&
        std::find(at.begin(), at.end(), position - 1) == at.end()) {
      std::abort();
    }
  }
  if (!command.key_path.empty() && at.empty()) std::abort();
  if (!at.empty() && command.key_path != arguments[at.back()]) std::abort();
  // A key option finds no value only when nothing is left after what it has taken.
  if (command.key_path_missing && arguments.empty()) std::abort();
  if (command.key_path_missing && !is_key_option(arguments.back()) &&
      (at.empty() || at.back() + 1 != arguments.size())) {
    std::abort();
  }
}

// Once the whole list is scanned, every name that is neither a key path nor the value of
// "--threads" is a file, unless the encoder skips it for its suffix.
void check_every_name_taken(const Arguments& arguments, const jxcli::CodecCommand& command,
                            jxcli::Codec codec) {
  std::size_t names = 0;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (std::find(command.key_path_at.begin(), command.key_path_at.end(), i) !=
        command.key_path_at.end()) {
      continue;
    }
    if (argument == "--threads") {
      ++i;
      continue;
    }
    if (argument == "--key" || is_long_option(argument, codec) || is_flag_group(argument)) {
      continue;
    }
    if (codec == jxcli::Codec::Encoder && jxcli::ends_with_stream_suffix(argument)) continue;
    ++names;
  }
  if (names != command.files.size()) std::abort();
}

void check_codec(const Arguments& arguments, jxcli::Codec codec) {
  const jxcli::CodecCommand command = jxcli::scan_codec_arguments(arguments, codec);
  if (!is_subsequence(command.files, arguments)) std::abort();
  if (std::any_of(command.files.begin(), command.files.end(), is_flag_group)) std::abort();
  check_key_paths(arguments, command);
  if (!command.key_path_missing) check_every_name_taken(arguments, command, codec);
  const bool encoder = codec == jxcli::Codec::Encoder;
  if (!encoder && (command.partial || command.inflate || !command.notices.empty())) std::abort();
  if (!command.verbose && !command.notices.empty()) std::abort();
  for (const auto& name : command.files) {
    if (encoder && jxcli::ends_with_stream_suffix(name)) std::abort();
  }
  for (const auto& notice : command.notices) {
    const std::string prefix = "Ignoring : ";
    if (notice.rfind(prefix, 0) != 0 || notice.back() != '\n') std::abort();
    const std::string name = notice.substr(prefix.size(), notice.size() - prefix.size() - 1);
    if (!jxcli::ends_with_stream_suffix(name) ||
        std::find(arguments.begin(), arguments.end(), name) == arguments.end()) {
      std::abort();
    }
  }
  // Key paths may be empty; every other argument must be a non-empty UTF-8 text.
  if (!jxcli::first_argument_problem(arguments, command.key_path_at)) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      const bool key_path = std::find(command.key_path_at.begin(), command.key_path_at.end(), i) !=
                            command.key_path_at.end();
      if (arguments[i].empty() && !key_path) std::abort();
    }
  }
}

void append_utf8(std::string& text, char32_t c) {
  if (c < 0x80) {
    text += static_cast<char>(c);
  } else if (c < 0x800) {
    text += static_cast<char>(0xC0 | c >> 6);
    text += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    text += static_cast<char>(0xE0 | c >> 12);
    text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    text += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | c >> 18);
    text += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    text += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The text before a problem is valid, and a valid text is its scalar values, each encoded
// back in its shortest form.
void check_utf8(const std::string& argument) {
  if (auto problem = jx::find_utf8_problem(argument)) {
    if (problem->index + problem->length > argument.size()) std::abort();
    if (!jx::is_utf8(std::string_view(argument).substr(0, problem->index))) std::abort();
    // A text that ends inside a sequence ends less than a whole sequence after its start.
    if (problem->length == 0 && argument.size() - problem->index >= 4) std::abort();
    return;
  }
  std::string again;
  jx::for_each_scalar(argument, [&](char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) std::abort();
    append_utf8(again, c);
  });
  if (again != argument) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Arguments arguments = split(data, size);
  check_keygen(arguments);
  check_codec(arguments, jxcli::Codec::Encoder);
  check_codec(arguments, jxcli::Codec::Decoder);
  (void)jxcli::first_argument_problem(arguments);
  for (const auto& argument : arguments) check_utf8(argument);
  return 0;
}

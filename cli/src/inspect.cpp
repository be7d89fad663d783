#include "jxcli/inspect.h"

#include <array>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <utility>

#include "jx/byte_order.h"
#include "jx/context.h"
#include "jx/format.h"
#include "jx/key.h"
#include "jx/rng.h"
#include "jx/utf8.h"

namespace jxcli {

void StdoutPrinter::print(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

namespace {

constexpr int kWhole = 0;
constexpr int kStopped = 1;

using Word = std::array<std::uint8_t, 8>;

// One read request of the field's width. A short read prints `missing`, a failed one the
// system's error; both give false.
bool read_field(jx::File& file, std::span<std::uint8_t> field, std::string_view missing,
                Printer& out) {
  auto count = file.read_some(field);
  if (!count) {
    out.print("Cannot read file: " + count.error().detailed_form() + "\n");
    return false;
  }
  if (count.value() < field.size()) {
    out.print(missing);
    return false;
  }
  return true;
}

bool seek_failed(const jx::Result<std::uint64_t>& offset, Printer& out) {
  if (offset) return false;
  out.print("Cannot seek file: " + offset.error().detailed_form() + "\n");
  return true;
}

std::uint64_t big_endian(const Word& bytes) {
  return jx::load_big_endian_64(bytes.data());
}

// The 16 lowercase digits of a stream modifier.
std::string modifier_text(std::uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, value);
  return text;
}

// A key word: "0x" and at least 14 digits, 16 characters at least in all.
std::string key_word_text(std::uint64_t value) {
  char text[19];
  std::snprintf(text, sizeof text, "0x%014" PRIx64, value);
  return text;
}

std::string yes_no(bool flag) {
  return flag ? "YES" : "NO";
}

// Prints a header field's position line; false (after the error line) when it cannot be had.
bool position_line(jx::File& file, std::string_view label, Printer& out) {
  auto at = file.position();
  if (seek_failed(at, out)) return false;
  out.print(std::string(label) + std::to_string(at.value()) + "\n");
  return true;
}

// A field of the stream header that holds one byte.
bool read_byte_field(jx::File& file, std::string_view position_label, std::string_view missing,
                     std::uint8_t& value, Printer& out) {
  std::array<std::uint8_t, 1> byte{};
  if (!position_line(file, position_label, out)) return false;
  if (!read_field(file, byte, missing, out)) return false;
  value = byte[0];
  return true;
}

struct ModifierField {
  std::string_view position_label;
  std::string_view label;
  std::string_view missing;
};

constexpr ModifierField kModifierFields[] = {
    {"***Position mod_a : ", "modifier a:         ", "cannot read mod_a value\n"},
    {"***Position mod_b : ", "modifier b:         ", "cannot read mod_b value\n"},
    {"***Position mod_c : ", "modifier c:         ", "cannot read mod_c value\n"},
    {"***Position mod_s : ", "modifier s:         ", "cannot read mod_s value\n"},
};

// Version, options byte and the four modifiers, each after its position line.
bool stream_header(jx::File& file, jx::Options& options, Printer& out) {
  std::uint8_t version = 0;
  if (!read_byte_field(file, "***Position version : ", "cannot read version value\n", version,
                       out)) {
    return false;
  }
  out.print("version:            " + std::to_string(version) + "\n");
  std::uint8_t bits = 0;
  if (!read_byte_field(file, "***Position option : ", "cannot read option value\n", bits, out)) {
    return false;
  }
  options.set_bits(bits);
  out.print("options byte:       " + std::to_string(bits) + "\n");
  out.print("options.partial:    " + yes_no(options.partial) + "\n");
  out.print("options.inflate:    " + yes_no(options.inflate) + "\n");
  for (const ModifierField& field : kModifierFields) {
    Word word{};
    if (!position_line(file, field.position_label, out)) return false;
    if (!read_field(file, word, field.missing, out)) return false;
    out.print(std::string(field.label) + modifier_text(big_endian(word)) + "\n");
  }
  return true;
}

// The footer and the sizes that follow from the file's length.
bool stream_sizes(jx::File& file, const jx::Options& options, Printer& out) {
  constexpr std::uint64_t kFrame = jx::format::kHeaderSize + jx::format::kFooterSize;
  auto end = file.seek_end();
  if (seek_failed(end, out)) return false;
  const std::uint64_t file_size = end.value();
  if (file_size < kFrame) {
    // The header was read whole but leaves no room for a footer of its own.
    out.print("cannot read footer value\n");
    return false;
  }
  if (seek_failed(file.seek_set(file_size - jx::format::kFooterSize), out)) return false;
  Word footer{};
  if (!read_field(file, footer, "cannot read footer value\n", out)) return false;
  const std::uint64_t data_size = file_size - kFrame;
  const std::uint64_t block_size =
      options.inflate ? jx::format::kInflatedBlockSize : jx::format::kBlockSize;
  const std::uint64_t surplus = data_size % block_size;
  out.print("file size:          " + std::to_string(file_size) + "\n");
  out.print("cipher data size:   " + std::to_string(data_size) + "\n");
  out.print("original data size: " + std::to_string(big_endian(footer)) + "\n");
  out.print("block size:         " + std::to_string(block_size) + "\n");
  out.print("number of blocks:   " + std::to_string(data_size / block_size) + "\n");
  out.print("surplus bytes:      " + std::to_string(surplus) + " " +
            (surplus != 0 ? "(probably corrupted)" : "") + "\n");
  return true;
}

// The 16 rows of k; rows after the first start on a new line in column 21.
std::string table_text(const std::array<std::uint8_t, 256>& table) {
  std::string text;
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (i != 0 && i % 16 == 0) text += "\n                    ";
    char entry[4];
    std::snprintf(entry, sizeof entry, "%02x ", table[i]);
    text += entry;
  }
  return text;
}

struct KeyWordField {
  std::string_view label;
  std::string_view missing;
};

constexpr KeyWordField kKeyWordFields[] = {
    {"\nkey (a):            ", "cannot read a component value\n"},
    {"key (b):            ", "cannot read b component value\n"},
    {"key (c):            ", "cannot read c component value\n"},
    {"key (s):            ", "cannot read s component value\n"},
};

}  // namespace

int inspect(jx::File file, Printer& out) {
  std::array<std::uint8_t, jx::format::kMagicSize> magic{};
  if (!read_field(file, magic, "cannot read magic value\n", out)) return kStopped;
  const std::string_view text(reinterpret_cast<const char*>(magic.data()), magic.size());
  if (auto problem = jx::find_utf8_problem(text)) {
    out.print("Cannot parse header: " + problem->description() + "\n");
    return kStopped;
  }
  if (text == jx::format::kStreamMagic) return inspect_jxd(std::move(file), out);
  if (text == jx::format::kKeyMagic) return inspect_jxk(std::move(file), out);
  out.print("File header is not recognized.\n");
  return kStopped;
}

int inspect_jxd(jx::File file, Printer& out) {
  // Only the options of a context over the all-zero key are used: it needs no code tables, and
  // its generator is never drawn.
  const jx::Key zero_key;
  auto decoder =
      std::make_unique<jx::Context>(zero_key, jx::Rng(jx::Rng::Seed{}),
                                    jx::CodeTables::build(zero_key, jx::CodeTables::Use::None));
  out.print("filetype:           JXD (JX encrypted data stream)\n");
  if (!stream_header(file, decoder->options, out)) return kStopped;
  out.print("\n");
  return stream_sizes(file, decoder->options, out) ? kWhole : kStopped;
}

int inspect_jxk(jx::File file, Printer& out) {
  out.print("filetype:           JXK (JX key)\n");
  std::array<std::uint8_t, 1> version{};
  if (!read_field(file, version, "cannot read version value\n", out)) return kStopped;
  out.print("version:            " + std::to_string(version[0]) + "\n");
  out.print("key (k):            ");
  std::array<std::uint8_t, 256> table{};
  if (!read_field(file, table, "cannot read k component value\n", out)) return kStopped;
  out.print(table_text(table));
  for (const KeyWordField& field : kKeyWordFields) {
    Word word{};
    if (!read_field(file, word, field.missing, out)) return kStopped;
    out.print(std::string(field.label) + key_word_text(big_endian(word)) + "\n");
  }
  return kWhole;
}

}  // namespace jxcli

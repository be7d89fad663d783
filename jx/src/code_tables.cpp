#include "jx/code_tables.h"

namespace jx {
namespace {

using Codes = CodeTables::Codes;
using Inverse = CodeTables::Inverse;
using Lines = CodeTables::Lines;

// Codes of byte value v, choice 16j + m: the high byte from entry j of line hi(v) of
// `lines`, the low byte from entry m of line lo(v), a line being 16 consecutive entries.
void build_codes(const Lines& lines, Codes& codes) {
  for (std::size_t v = 0; v < 256; ++v) {
    const std::uint8_t* high_line = &lines[16 * (v >> 4)];
    const std::uint8_t* low_line = &lines[16 * (v & 15)];
    for (std::size_t j = 0; j < 16; ++j) {
      const auto high = static_cast<std::uint16_t>(high_line[j] << 8);
      for (std::size_t m = 0; m < 16; ++m) {
        codes[v][16 * j + m] = static_cast<std::uint16_t>(high | low_line[m]);
      }
    }
  }
}

// A column code reads the matrix k by columns: the same construction on its transpose.
void transpose(const Lines& k, Lines& columns) {
  for (std::size_t r = 0; r < 16; ++r) {
    for (std::size_t c = 0; c < 16; ++c) columns[16 * c + r] = k[16 * r + c];
  }
}

// Where codes repeat, the highest byte value that produced a code keeps it.
void build_inverse(const Codes& codes, Inverse& inverse) {
  inverse.fill(0);
  for (std::size_t v = 0; v < 256; ++v) {
    for (std::uint16_t code : codes[v]) inverse[code] = static_cast<std::uint8_t>(v);
  }
}

// The same tables for a permutation, where every code has exactly one source: an entry
// follows from the positions in k of the code's two bytes, so the tables fill in order.
void build_inverses_of_permutation(const Lines& k, Inverse& row_inverse, Inverse& col_inverse) {
  Lines position;
  for (std::size_t i = 0; i < 256; ++i) position[k[i]] = static_cast<std::uint8_t>(i);
  for (std::size_t high = 0; high < 256; ++high) {
    const std::uint8_t from_high = position[high];
    for (std::size_t low = 0; low < 256; ++low) {
      const std::uint8_t from_low = position[low];
      row_inverse[256 * high + low] = static_cast<std::uint8_t>((from_high & 0xF0) | from_low >> 4);
      col_inverse[256 * high + low] =
          static_cast<std::uint8_t>((from_high & 15) << 4 | (from_low & 15));
    }
  }
  wipe(position.data(), position.size());
}

template <class Table>
std::unique_ptr<Table> fresh_table() {
  return std::make_unique_for_overwrite<Table>();
}

template <class Table>
void wipe_table(std::unique_ptr<Table>& table) {
  if (table) wipe(table->data(), sizeof(Table));
}

}  // namespace

std::shared_ptr<const CodeTables> CodeTables::build(const Key& key, Use use) {
  std::shared_ptr<CodeTables> tables(new CodeTables());
  const bool encodes = use == Use::Encoding || use == Use::Both;
  const bool decodes = use == Use::Decoding || use == Use::Both;
  // Without a permutation the inverses come from the codes, so decoding builds them too.
  if (encodes || (decodes && !key.is_permutation())) {
    tables->row_codes_ = fresh_table<Codes>();
    tables->col_codes_ = fresh_table<Codes>();
    tables->row_lines_ = key.k;
    transpose(key.k, tables->col_lines_);
    build_codes(tables->row_lines_, *tables->row_codes_);
    build_codes(tables->col_lines_, *tables->col_codes_);
  }
  if (decodes) {
    tables->row_inverse_ = fresh_table<Inverse>();
    tables->col_inverse_ = fresh_table<Inverse>();
    if (key.is_permutation()) {
      build_inverses_of_permutation(key.k, *tables->row_inverse_, *tables->col_inverse_);
    } else {
      build_inverse(*tables->row_codes_, *tables->row_inverse_);
      build_inverse(*tables->col_codes_, *tables->col_inverse_);
    }
  }
  if (!encodes) {
    wipe_table(tables->row_codes_);
    wipe_table(tables->col_codes_);
    tables->row_codes_.reset();
    tables->col_codes_.reset();
    wipe(tables->row_lines_.data(), tables->row_lines_.size());
    wipe(tables->col_lines_.data(), tables->col_lines_.size());
  }
  return tables;
}

CodeTables::~CodeTables() {
  wipe_table(row_codes_);
  wipe_table(col_codes_);
  wipe_table(row_inverse_);
  wipe_table(col_inverse_);
  wipe(row_lines_.data(), row_lines_.size());
  wipe(col_lines_.data(), col_lines_.size());
}

}  // namespace jx

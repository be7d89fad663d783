#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "jx/key.h"

namespace jx {

// The code tables of one key: what the inflate option expands a byte into, and back. They
// depend on the key's k alone, so one set serves every stream of a run, read-only; each
// direction builds only the tables it uses. The tables are wiped when released.
class CodeTables {
 public:
  using Codes = std::array<std::array<std::uint16_t, 256>, 256>;  // [byte value][choice]
  using Inverse = std::array<std::uint8_t, 65536>;                // [code] -> byte value
  using Lines = std::array<std::uint8_t, 256>;                    // 16 lines of 16 entries

  // Which tables to build: the two code tables for encoding, the two inverse tables for
  // decoding, all four, or none for a reader that never touches a block.
  enum class Use { Encoding, Decoding, Both, None };

  static std::shared_ptr<const CodeTables> build(const Key& key, Use use);

  ~CodeTables();
  CodeTables(const CodeTables&) = delete;
  CodeTables& operator=(const CodeTables&) = delete;

  bool has_codes() const { return row_codes_ != nullptr; }
  bool has_inverses() const { return row_inverse_ != nullptr; }
  // Only where has_codes() or has_inverses() holds.
  const Codes& row_codes() const { return *row_codes_; }
  const Codes& col_codes() const { return *col_codes_; }
  const Inverse& row_inverse() const { return *row_inverse_; }
  const Inverse& col_inverse() const { return *col_inverse_; }
  // What the codes are made of: code [v][16j + m] is entry j of line hi(v) of row_lines(),
  // then entry m of line lo(v); the column codes likewise from col_lines(). Only where
  // has_codes() holds.
  const Lines& row_lines() const { return row_lines_; }
  const Lines& col_lines() const { return col_lines_; }

 private:
  CodeTables() = default;

  std::unique_ptr<Codes> row_codes_;
  std::unique_ptr<Codes> col_codes_;
  std::unique_ptr<Inverse> row_inverse_;
  std::unique_ptr<Inverse> col_inverse_;
  Lines row_lines_{};
  Lines col_lines_{};
};

}  // namespace jx

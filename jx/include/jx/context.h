#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "jx/file.h"
#include "jx/io_error.h"
#include "jx/key.h"
#include "jx/rng.h"

namespace jx {

// The two stream options, stored as bits 0 and 1 of a stream's options byte.
struct Options {
  bool partial = false;  // blocks take 129 to 256 input bytes, chosen per block by the key
  bool inflate = false;  // blocks are expanded fourfold into 16-bit codes

  // partial from bit 0, inflate from bit 1; the other bits are ignored.
  void set_bits(std::uint8_t bits);
  std::uint8_t bits() const;
};

// The working state of one stream: a key copy, a generator, the stream's modifiers, the four
// code tables and the options. About 384 KiB: make it on the heap, one per stream.
struct Context {
  static constexpr std::size_t kHeaderSize = 37;
  static constexpr std::size_t kFooterSize = 8;

  Key key;
  Rng rng;
  std::uint64_t mod_a = 0, mod_b = 0, mod_c = 0, mod_s = 0;
  std::array<std::array<std::uint16_t, 256>, 256> row_codes;  // [byte value][choice]
  std::array<std::array<std::uint16_t, 256>, 256> col_codes;
  std::array<std::uint8_t, 65536> row_inverse;  // [code] -> byte value
  std::array<std::uint8_t, 65536> col_inverse;
  Options options;
  // Told the number of input bytes consumed so far, after each chunk; may be empty.
  std::function<void(std::uint64_t)> on_progress;

  // A context whose generator is seeded from the operating system.
  explicit Context(const Key& key_to_copy);
  // A context with a given generator, for decoding (which draws nothing) and for tests.
  Context(const Key& key_to_copy, const Rng& generator);
  ~Context();  // the key copy, generator and tables are wiped
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  // Encrypts the file at `input` into a stream file at `output`. Without `force` an existing
  // output is an AlreadyExists error and is left alone; the stream is written under a
  // temporary name and takes its name only when complete.
  Status encode_file(const std::string& input, const std::string& output, bool force);
  // Decrypts the stream file at `input` into `output` (mode 0600), checking the stream's
  // layout; a stream that fails a check leaves no output.
  Status decode_file(const std::string& input, const std::string& output, bool force);

  // The same on open files: encode_stream writes header, blocks and footer to `output`;
  // decode_stream writes the decrypted bytes and fails on a malformed stream (the output
  // then holds an unspecified prefix).
  Status encode_stream(File& input, File& output);
  Status decode_stream(File& input, File& output);

  // Expands a 256-byte block into 1024 bytes of codes; draws 768 generator steps.
  void inflate_4x(const std::uint8_t* block, std::uint8_t* expanded);
};

}  // namespace jx

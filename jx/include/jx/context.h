#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "jx/code_tables.h"
#include "jx/file.h"
#include "jx/format.h"
#include "jx/io_error.h"
#include "jx/key.h"
#include "jx/rng.h"
#include "jx/stream_buffers.h"

namespace jx {

// The two stream options, stored as bits 0 and 1 of a stream's options byte.
struct Options {
  bool partial = false;  // blocks take 129 to 256 input bytes, chosen per block by the key
  bool inflate = false;  // blocks are expanded fourfold into 16-bit codes

  // partial from bit 0, inflate from bit 1; the other bits are ignored.
  void set_bits(std::uint8_t bits);
  std::uint8_t bits() const;
};

// The working state of one stream: a key copy whose words the stream rewrites, a generator,
// the stream's modifiers and options, and the key's code tables, shared read-only with the
// other streams of the run. A context serves one stream; it refuses a second.
struct Context {
  static constexpr std::size_t kHeaderSize = format::kHeaderSize;
  static constexpr std::size_t kFooterSize = format::kFooterSize;

  Key key;
  Rng rng;
  std::uint64_t mod_a = 0, mod_b = 0, mod_c = 0, mod_s = 0;
  std::shared_ptr<const CodeTables> tables;
  Options options;
  // Told the number of input bytes consumed so far, after each chunk; may be empty.
  std::function<void(std::uint64_t)> on_progress;
  // The chunk buffers, lent by the run; a stream without them makes its own.
  std::shared_ptr<StreamBuffers> buffers;
  // The most threads the stream may use; 1 is a run on the calling thread alone. Any count
  // writes the same bytes.
  std::size_t threads = 1;

  // A context with the given generator that builds all four code tables of the key itself.
  Context(const Key& key_to_copy, const Rng& generator);
  // A context with the given generator and the key's tables built already, for the direction
  // it will serve.
  Context(const Key& key_to_copy, const Rng& generator,
          std::shared_ptr<const CodeTables> key_tables);
  ~Context();  // the key copy and generator are wiped
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

  // Expands a 256-byte block into 1024 bytes of codes; draws 768 generator steps. Needs the
  // code tables.
  void inflate_4x(const std::uint8_t* block, std::uint8_t* expanded);

 private:
  // An InvalidInput error once the context has served a stream.
  Status refuse_if_served() const;
  // Refuses a second stream and tables that lack the direction's; otherwise marks the
  // context as serving and makes sure it has buffers.
  Status begin_stream(bool encoding);

  bool served_ = false;
};

}  // namespace jx

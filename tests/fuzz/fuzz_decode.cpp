// The stream decoder on arbitrary bytes, with the key of the password "fuzz" (the seed
// streams were made with it): it refuses a malformed stream, or gives exactly as many bytes
// as the footer says.
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "bytes.h"
#include "jx/context.h"
#include "jx/key.h"
#include "memory_file.h"

namespace {

using jxtest::big_endian_at;
using jxtest::memory_file;

std::uint64_t size_of(const jx::File& file) {
  struct stat info {};
  if (::fstat(file.fd(), &info) != 0) std::abort();
  return static_cast<std::uint64_t>(info.st_size);
}

// A fresh context per stream over the key's decoding tables, built once.
std::unique_ptr<jx::Context> decoder(const jx::Key& key) {
  static const auto tables = jx::CodeTables::build(key, jx::CodeTables::Use::Decoding);
  static const auto buffers = std::make_shared<jx::StreamBuffers>();
  auto context = std::make_unique<jx::Context>(key, jx::Rng(jx::Rng::Seed{}), tables);
  context->buffers = buffers;
  return context;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const jx::Key key = jx::Key::new_from_string("fuzz");
  jx::File input = memory_file({data, size});
  jx::File output = memory_file();
  const jx::Status decoded = decoder(key)->decode_stream(input, output);
  if (!decoded) {
    if (decoded.error().kind() != jx::ErrorKind::InvalidData) std::abort();
    return 0;
  }
  constexpr std::size_t kFrame = jx::Context::kHeaderSize + jx::Context::kFooterSize;
  if (size < kFrame) std::abort();
  const std::size_t block = (data[4] & 2) != 0 ? 1024 : 256;
  const std::uint64_t blocks = (size - kFrame) / block;
  if ((size - kFrame) % block != 0) std::abort();
  const std::uint64_t total = big_endian_at({data, size}, size - 8);
  if (size_of(output) != total || total > 256 * blocks) std::abort();
  return 0;
}

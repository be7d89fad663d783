// Encoding then decoding gives the data back, under every pair of options. The first input
// byte holds the options, the next eight (when there) vary the generator's seed, the rest
// is the data.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bytes.h"
#include "jx/context.h"
#include "jx/key.h"
#include "memory_file.h"

namespace {

using jxtest::big_endian_at;
using jxtest::contents_of;
using jxtest::memory_file;

jx::Key fixed_key() {
  jx::Rng rng(jx::Rng::Seed{'r', 'o', 'u', 'n', 'd'});
  std::vector<std::uint8_t> seed(jx::Key::kSeedSize);
  for (auto& byte : seed) byte = static_cast<std::uint8_t>(rng.get());
  return jx::Key::new_from_seed(seed).value();
}

// The key and its tables, built once; each stream gets a fresh context over them.
struct Codec {
  jx::Key key = fixed_key();
  std::shared_ptr<const jx::CodeTables> tables =
      jx::CodeTables::build(key, jx::CodeTables::Use::Both);
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Codec codec;
  if (size == 0) return 0;
  jx::Rng::Seed seed{0x5e, 0xed};
  const std::size_t seeded = std::min<std::size_t>(size - 1, 8);
  std::copy(data + 1, data + 1 + seeded, seed.begin() + 8);
  const std::uint8_t* plain = data + 1 + seeded;
  const std::size_t plain_size = size - 1 - seeded;

  jx::Context encoder(codec.key, jx::Rng(seed), codec.tables);
  encoder.options.set_bits(data[0]);
  jx::File input = memory_file({plain, plain_size});
  jx::File stream = memory_file();
  if (!encoder.encode_stream(input, stream)) std::abort();

  const std::vector<std::uint8_t> encoded = contents_of(stream);
  const std::size_t block = encoder.options.inflate ? 1024 : 256;
  if (encoded.size() < 45 || (encoded.size() - 45) % block != 0) std::abort();
  if (encoded[4] != (data[0] & 3)) std::abort();
  if (big_endian_at(encoded, encoded.size() - 8) != plain_size) std::abort();

  jx::Context decoder(codec.key, jx::Rng(jx::Rng::Seed{}), codec.tables);
  jx::File output = memory_file();
  if (!stream.seek_set(0) || !decoder.decode_stream(stream, output)) std::abort();
  const std::vector<std::uint8_t> decoded = contents_of(output);
  if (!std::equal(decoded.begin(), decoded.end(), plain, plain + plain_size)) std::abort();
  return 0;
}

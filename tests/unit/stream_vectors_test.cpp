#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "bytes.h"
#include "jx/context.h"
#include "memory_file.h"

namespace {

// One stream: its options, the input size, and what the stream must hold.
struct StreamVector {
  std::uint8_t options;
  std::size_t size;
  std::size_t length;     // bytes of the whole stream
  const char* block0;     // hex of the first 32 bytes after the header
  std::uint64_t fnv;      // FNV-1a 64 of the whole stream
};

// Computed by tests/tools/stream_vectors.py, run without arguments: key seed byte
// i = (i * 7 + 3) mod 256, generator seed bytes 00 01 02 ... 1f, input byte i = (i * 13) mod 256.
// The header is "JXD", 1, the options byte, then these four modifiers; under partial the
// first three blocks request 208, 207 and 253 bytes, which the stream lengths and the filler
// positions (through the FNV) reflect.
constexpr const char* kModifiers =
    "18191a1b1c1d1e1f3c26506e6c76084e4878ea4e65358e830a81ba3a6ac005ed";

const StreamVector kVectors[] = {
    {0, 0, 45, "", 0x64f2f166c43da92cULL},
    {0, 1, 301, "33e7aa0b1b9cce0b4034c8fe04902d3d40141d64758bb6ef6b1d5df8c0a81873",
     0x5678cd0d35147fb0ULL},
    {0, 255, 301, "e764308ee45904cd1704baa33b9b6818fed33cc4806e2f71430822ebace2b04e",
     0x6ba14932ba5fd7c1ULL},
    {0, 256, 301, "e764308ee45904cd1704baa33b9b6818fed33cc4806e2f71430822ebace2b04e",
     0x1452395aeb9793d3ULL},
    {0, 257, 557, "e764308ee45904cd1704baa33b9b6818fed33cc4806e2f71430822ebace2b04e",
     0xfca10d5a9d302494ULL},
    {0, 600, 813,
     "e764308ee45904cd1704baa33b9b6818fed33cc4806e2f71430822ebace2b04e", 0x949cb3618305ab7aULL},
    {1, 0, 45, "", 0x91e379a478354623ULL},
    {1, 1, 301, "33e7aa0b1b9cce0b4034c8fe04902d3d40141d64758bb6ef6b1d5df8c0a81873",
     0xd21681d5f6136833ULL},
    {1, 255, 557, "e764308ee45904cd174dbaa33b9b6818fed316c4806e4e71430822ebace25c9b",
     0x4c8e268e1622bd8cULL},
    {1, 256, 557, "e764308ee45904cd174dbaa33b9b6818fed316c4806e4e71430822ebace25c9b",
     0x77eb59874eacdb62ULL},
    {1, 257, 557, "e764308ee45904cd174dbaa33b9b6818fed316c4806e4e71430822ebace25c9b",
     0xbd982ae61a9e4a4dULL},
    {1, 600, 813,
     "e764308ee45904cd174dbaa33b9b6818fed316c4806e4e71430822ebace25c9b", 0xf203a34abe86e7b9ULL},
    {2, 0, 45, "", 0xdc6ab8fd3a05883aULL},
    {2, 1, 1069, "ee1b315303f47266b06044eed35fcd4bea5fee43a5692edb43d3fde14b7ad802",
     0x81d1ad3e943b00c0ULL},
    {2, 255, 1069, "1da1f197ae49a9e3109f190720e6e405567e9e676a444fd0c332d68706bbfffc",
     0xeea66b82b58a10cbULL},
    {2, 256, 1069, "ed19ae336c8f3fb4e06e53e6f96e677f8e6721281041f247a358f69fff5ade29",
     0x71c4cc0291d05908ULL},
    {2, 257, 2093, "ed19ae336c8f3fb4e06e53e6f96e677f8e6721281041f247a358f69fff5ade29",
     0xe83fe1d2e9ebe163ULL},
    {2, 600, 3117,
     "ed19ae336c8f3fb4e06e53e6f96e677f8e6721281041f247a358f69fff5ade29", 0x4e38d1a220cab01dULL},
    {3, 0, 45, "", 0x4866a58e46ddeb11ULL},
    {3, 1, 1069, "ee1b315303f47266b06044eed35fcd4bea5fee43a5692edb43d3fde14b7ad802",
     0x5d5efbe36ace5b77ULL},
    {3, 255, 2093, "8e67fab4a1f901164e70797f9a00872cefab59d2bb61bb5fe74139faaeb4deea",
     0x1743bf48e94cc89dULL},
    {3, 256, 2093, "8e67fab4a1f901164e70797f9a00872cefab59d2bb61bb5fe74139faaeb4deea",
     0x18ae0e0260d2825eULL},
    {3, 257, 2093, "8e67fab4a1f901164e70797f9a00872cefab59d2bb61bb5fe74139faaeb4deea",
     0xb821ccf11fbc9925ULL},
    {3, 600, 3117,
     "8e67fab4a1f901164e70797f9a00872cefab59d2bb61bb5fe74139faaeb4deea", 0x845326ede0267f5eULL},
};

jx::Key vector_key() {
  std::vector<std::uint8_t> seed(jx::Key::kSeedSize);
  for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return jx::Key::new_from_seed(std::move(seed)).value();
}

jx::Rng vector_rng() {
  jx::Rng::Seed seed;
  for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(i);
  return jx::Rng(seed);
}

using jxtest::contents_of;
using jxtest::hex;
using jxtest::memory_file;

std::uint64_t fnv1a64(const std::vector<std::uint8_t>& bytes) {
  std::uint64_t value = 0xcbf29ce484222325ULL;
  for (const std::uint8_t byte : bytes) value = (value ^ byte) * 0x100000001b3ULL;
  return value;
}

TEST(StreamVectors, EncodedStreamsMatchTheIndependentModel) {
  const jx::Key key = vector_key();
  for (const StreamVector& vector : kVectors) {
    SCOPED_TRACE("options " + std::to_string(vector.options) + ", size " +
                 std::to_string(vector.size));
    std::vector<std::uint8_t> input(vector.size);
    for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<std::uint8_t>(i * 13);
    jx::File in = memory_file(input);
    jx::File out = memory_file();

    auto context = std::make_unique<jx::Context>(key, vector_rng());
    context->options.set_bits(vector.options);
    ASSERT_TRUE(context->encode_stream(in, out).ok());

    const std::vector<std::uint8_t> stream = contents_of(out);
    ASSERT_EQ(stream.size(), vector.length);
    const std::span<const std::uint8_t> bytes(stream);
    EXPECT_EQ(hex(bytes.first(jx::Context::kHeaderSize)),
              "4a584401" + hex({&vector.options, 1}) + kModifiers);
    const std::size_t shown = vector.size == 0 ? 0 : 32;
    EXPECT_EQ(hex(bytes.subspan(jx::Context::kHeaderSize, shown)), vector.block0);
    EXPECT_EQ(fnv1a64(stream), vector.fnv);
  }
}

}  // namespace

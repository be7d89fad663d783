#include "codec_cases.h"

#include "../../jx/src/block_plan.h"

namespace jx {

Key test_key() {
  Rng rng(Rng::Seed{0x4B, 0x45, 0x59});
  Bytes seed(Key::kSeedSize);
  for (auto& byte : seed) byte = static_cast<std::uint8_t>(rng.get());
  return Key::new_from_seed(seed).value();
}

const Rng kSeeded(Rng::Seed{0x31, 0x41, 0x59, 0x26, 0x53, 0x58, 0x97, 0x93, 0x23, 0x84, 0x62,
                            0x64, 0x33, 0x83, 0x27, 0x95, 0x02, 0x88, 0x41, 0x97, 0x16, 0x93,
                            0x99, 0x37, 0x51, 0x05, 0x82, 0x09, 0x74, 0x94, 0x45, 0x92});

Bytes sample_input(std::size_t size, std::uint8_t salt) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 131 + i / 256 + salt);
  return bytes;
}

Options options_of(int bits) {
  Options options;
  options.set_bits(static_cast<std::uint8_t>(bits));
  return options;
}

std::string describe(const Status& status) {
  return status ? std::string("ok") : status.error().detailed_form();
}

void on_each_code_path(const std::function<void()>& body) {
  const bool vector_available = vector_code_enabled();
  for (bool vector : {true, false}) {
    if (vector && !vector_available) continue;
    SCOPED_TRACE(vector ? "vector code" : "portable code");
    enable_vector_code(vector);
    body();
  }
  enable_vector_code(vector_available);
}

}  // namespace jx

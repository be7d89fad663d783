// Encrypts a file of its own with a key made from a password, decrypts it back and checks that
// the bytes came back. Run it in any writable directory; it leaves its three files there.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "jx/jx.h"

namespace {

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool fail(const char* what, const jx::IoError& error) {
  std::fprintf(stderr, "%s failed: %s\n", what, error.detailed_form().c_str());
  return false;
}

bool roundtrip() {
  const std::string original = "Attack at dawn.\nBring the maps.\n";
  if (!(std::ofstream("letter.txt", std::ios::binary) << original)) {
    std::fprintf(stderr, "cannot write letter.txt\n");
    return false;
  }
  std::printf("wrote letter.txt (%zu bytes)\n", original.size());

  // The same password always gives the same key.
  const jx::Key key = jx::Key::new_from_string("correct horse battery staple");

  // The code tables depend on the key alone: build them once and share them among streams.
  const auto tables = jx::CodeTables::build(key, jx::CodeTables::Use::Both);

  // A Context serves one stream. Encoding draws the stream's modifiers from a generator
  // seeded by the operating system.
  auto generator = jx::Rng::from_os();
  if (!generator) return fail("seeding", generator.error());
  auto encoder = std::make_unique<jx::Context>(key, generator.value(), tables);
  if (auto status = encoder->encode_file("letter.txt", "letter.txt.jxd", true); !status) {
    return fail("encrypting", status.error());
  }
  std::printf("encrypted it into letter.txt.jxd (%zu bytes)\n", read_all("letter.txt.jxd").size());

  // Decoding draws nothing from the generator, so any seed will do.
  auto decoder = std::make_unique<jx::Context>(key, jx::Rng(jx::Rng::Seed{}), tables);
  if (auto status = decoder->decode_file("letter.txt.jxd", "letter.out", true); !status) {
    return fail("decrypting", status.error());
  }
  if (read_all("letter.out") != original) {
    std::fprintf(stderr, "letter.out differs from letter.txt\n");
    return false;
  }
  std::printf("decrypted it into letter.out: the same bytes\n");
  return true;
}

}  // namespace

int main() { return roundtrip() ? 0 : 1; }

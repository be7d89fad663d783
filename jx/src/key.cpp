#include "jx/key.h"

#include <string.h>

#include <bitset>

#include "jx/file.h"
#include "jx/fast_hash.h"
#include "jx/output_file.h"
#include "jx/utf8.h"

namespace jx {
namespace {

std::uint64_t big_endian_64(const std::uint8_t* bytes) {
  std::uint64_t word = 0;
  for (int i = 0; i < 8; ++i) word = (word << 8) | bytes[i];
  return word;
}

void put_big_endian_64(std::uint64_t word, std::uint8_t* out) {
  for (int i = 7; i >= 0; --i) {
    out[i] = static_cast<std::uint8_t>(word);
    word >>= 8;
  }
}

}  // namespace

void wipe(void* data, std::size_t size) { ::explicit_bzero(data, size); }
void wipe(std::string& text) { wipe(text.data(), text.size()); }
void wipe(std::vector<std::uint8_t>& bytes) { wipe(bytes.data(), bytes.size()); }

Key::~Key() {
  wipe(k.data(), k.size());
  wipe(&a, sizeof a);
  wipe(&b, sizeof b);
  wipe(&c, sizeof c);
  wipe(&s, sizeof s);
}

Result<Key> Key::new_from_seed(std::vector<std::uint8_t> seed) {
  if (seed.size() < kSeedSize) {
    wipe(seed);
    return IoError::simple(ErrorKind::InvalidInput, "a key seed needs 288 bytes");
  }
  Key key;
  for (std::size_t i = 0; i < 256; ++i) key.k[i] = static_cast<std::uint8_t>(i);
  for (std::size_t i = 0; i < 256; ++i) std::swap(key.k[i], key.k[seed[i]]);
  key.a = big_endian_64(&seed[256]);
  key.b = big_endian_64(&seed[264]);
  key.c = big_endian_64(&seed[272]);
  key.s = big_endian_64(&seed[280]);
  wipe(seed);
  return key;
}

Key Key::new_from_string(std::string password) {
  FastHash hash(kSeedSize);
  for_each_scalar(password, [&](char32_t scalar) { hash.digest(scalar); });
  wipe(password);
  return new_from_seed(hash.get()).value();
}

Status Key::export_to(std::string path) const {
  std::array<std::uint8_t, kFileSize> bytes{'J', 'X', 'K', 1};
  std::copy(k.begin(), k.end(), bytes.begin() + 4);
  put_big_endian_64(a, &bytes[260]);
  put_big_endian_64(b, &bytes[268]);
  put_big_endian_64(c, &bytes[276]);
  put_big_endian_64(s, &bytes[284]);
  auto output = OutputFile::create(path, 0600, true);
  Status written = output ? output.value().write_all(bytes) : Status(output.error());
  if (written) written = output.value().commit(true);
  wipe(bytes.data(), bytes.size());
  return written;
}

Status Key::import_from(const std::string& path) {
  auto opened = File::open_read(path);
  if (!opened) return opened.error();
  File& file = opened.value();
  std::uint8_t header[4];
  if (auto read = file.read_exact({header, 3}); !read) return read;
  if (auto read = file.read_exact({header + 3, 1}); !read) return read;
  if (auto read = file.read_exact(k); !read) return read;
  for (std::uint64_t* word : {&a, &b, &c, &s}) {
    std::uint8_t bytes[8];
    auto read = file.read_exact(bytes);
    if (read) *word = big_endian_64(bytes);
    wipe(bytes, sizeof bytes);
    if (!read) return read;
  }
  return Done{};
}

bool Key::is_permutation() const {
  std::bitset<256> seen;
  for (std::uint8_t value : k) seen.set(value);
  return seen.all();
}

}  // namespace jx

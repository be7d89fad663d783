#include "jx/key.h"

#include <string.h>

#include <bitset>

#include "jx/byte_order.h"
#include "jx/file.h"
#include "jx/format.h"
#include "jx/hash.h"
#include "jx/output_file.h"
#include "jx/utf8.h"
#include "traces.h"

namespace jx {
namespace {

// The words a, b, c and s as a seed and a key file hold them, one after another.
void load_words(Key& key, const std::uint8_t* bytes) {
  for (std::uint64_t* word : {&key.a, &key.b, &key.c, &key.s}) {
    *word = load_big_endian_64(bytes);
    bytes += 8;
  }
}

void store_words(const Key& key, std::uint8_t* bytes) {
  for (std::uint64_t word : {key.a, key.b, key.c, key.s}) {
    store_big_endian_64(word, bytes);
    bytes += 8;
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
  load_words(key, &seed[256]);
  wipe(seed);
  return key;
}

Key Key::new_from_string(std::string password) {
  Hash hash(kSeedSize);
  for_each_scalar(password, [&](char32_t scalar) { hash.digest(scalar); });
  wipe(password);
  wipe_vector_registers();
  return new_from_seed(hash.get()).value();
}

Status Key::export_to(std::string path) const {
  std::array<std::uint8_t, kFileSize> bytes;
  std::copy(format::kKeyMagic.begin(), format::kKeyMagic.end(), bytes.begin());
  bytes[format::kKeyVersionAt] = format::kKeyVersion;
  std::copy(k.begin(), k.end(), bytes.begin() + format::kKeyTableAt);
  store_words(*this, &bytes[format::kKeyWordsAt]);
  auto output = OutputFile::create(path, 0600, true);
  Status written = output ? output.value().write_all(bytes) : Status(output.error());
  if (written) written = output.value().commit(true);
  if (written) written = OutputFile::sync_directories();
  wipe(bytes.data(), bytes.size());
  return written;
}

Status Key::import_from(const std::string& path) {
  auto opened = File::open_read(path);
  if (!opened) return opened.error();
  File& file = opened.value();
  std::uint8_t header[format::kKeyTableAt];
  if (auto read = file.read_exact({header, format::kMagicSize}); !read) return read;
  if (auto read = file.read_exact({header + format::kKeyVersionAt, 1}); !read) return read;
  if (auto read = file.read_exact(k); !read) return read;
  for (std::uint64_t* word : {&a, &b, &c, &s}) {
    std::uint8_t bytes[8];
    auto read = file.read_exact(bytes);
    if (read) *word = load_big_endian_64(bytes);
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

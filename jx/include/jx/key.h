#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "jx/format.h"
#include "jx/io_error.h"

namespace jx {

// The key record: a byte permutation and four 64-bit words, 288 bytes of key material.
// The all-zero Key{} is the starting value before import_from.
struct Key {
  static constexpr std::size_t kSeedSize = 288;
  static constexpr std::size_t kFileSize = format::kKeyFileSize;

  std::array<std::uint8_t, 256> k{};  // a permutation, except in the all-zero Key{}
  std::uint64_t a = 0, b = 0, c = 0, s = 0;

  Key() = default;
  Key(const Key&) = default;
  Key& operator=(const Key&) = default;
  ~Key();  // key material is wiped before its memory is released

  // Builds a key from a seed of at least 288 bytes, which is wiped and released; a shorter
  // seed is refused with InvalidInput before anything changes.
  static Result<Key> new_from_seed(std::vector<std::uint8_t> seed);
  // The key of a password: its Unicode scalar values hashed into a 288-byte seed. The text
  // must be valid UTF-8; it is wiped and released.
  static Key new_from_string(std::string password);

  // Writes the 292-byte key file at `path`, mode 0600, through a temporary file in the same
  // directory, so a failure leaves any earlier file at `path` as it was.
  Status export_to(std::string path) const;
  // Fills this key field by field from the key file at `path`; magic and version are read
  // but not checked, and a failure leaves the fields reached so far replaced.
  Status import_from(const std::string& path);

  bool is_permutation() const;
  bool operator==(const Key&) const = default;
};

// Overwrites memory that held a secret, in a way the compiler cannot drop.
void wipe(void* data, std::size_t size);
void wipe(std::string& text);
void wipe(std::vector<std::uint8_t>& bytes);

}  // namespace jx

// Key files of arbitrary bytes, imported and checked as jxenc and jxdec check them, and the
// tables built from a key that passes.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <span>
#include <string>

#include "bytes.h"
#include "jx/context.h"
#include "jx/key.h"
#include "memory_file.h"

namespace {

using jxtest::big_endian_at;

// A permutation holds every byte value once: sorted, it is 0, 1, ..., 255.
bool sorts_to_identity(std::array<std::uint8_t, 256> table) {
  std::sort(table.begin(), table.end());
  std::array<std::uint8_t, 256> identity;
  std::iota(identity.begin(), identity.end(), 0);
  return table == identity;
}

void check_whole_import(const jx::Key& key, std::span<const std::uint8_t> file) {
  if (!std::equal(key.k.begin(), key.k.end(), file.begin() + 4)) std::abort();
  if (key.a != big_endian_at(file, 260) || key.b != big_endian_at(file, 268) ||
      key.c != big_endian_at(file, 276) || key.s != big_endian_at(file, 284)) {
    std::abort();
  }
}

// The encoder's tables and their inverses agree for a key that passed the check; a key that
// did not is refused by the decoder before it reads anything.
void check_tables(const jx::Key& key, std::uint8_t choice) {
  auto context = std::make_unique<jx::Context>(key, jx::Rng(jx::Rng::Seed{}));
  if (!key.is_permutation()) {
    jx::File none;
    auto refused = context->decode_stream(none, none);
    if (refused || refused.error().kind() != jx::ErrorKind::InvalidInput) std::abort();
    return;
  }
  const jx::CodeTables& tables = *context->tables;
  for (std::size_t v = 0; v < 256; ++v) {
    if (tables.row_inverse()[tables.row_codes()[v][choice]] != v) std::abort();
    if (tables.col_inverse()[tables.col_codes()[v][choice]] != v) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Imported afresh through a path, as key files are.
  const jx::File source = jxtest::memory_file({data, size});
  jx::Key key;
  const jx::Status imported = key.import_from("/proc/self/fd/" + std::to_string(source.fd()));
  if (imported.ok() != (size >= jx::Key::kFileSize)) std::abort();
  if (!imported) {
    if (imported.error().kind() != jx::ErrorKind::UnexpectedEof) std::abort();
    return 0;
  }
  check_whole_import(key, {data, size});
  if (key.is_permutation() != sorts_to_identity(key.k)) std::abort();
  check_tables(key, size > 292 ? data[292] : data[0]);
  return 0;
}

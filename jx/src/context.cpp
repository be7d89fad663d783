#include "jx/context.h"

#include <array>

#include "block_plan.h"

namespace jx {

void Options::set_bits(std::uint8_t bits) {
  partial = (bits & format::kPartialBit) != 0;
  inflate = (bits & format::kInflateBit) != 0;
}

std::uint8_t Options::bits() const {
  return static_cast<std::uint8_t>((partial ? format::kPartialBit : 0) |
                                   (inflate ? format::kInflateBit : 0));
}

Context::Context(const Key& key_to_copy, const Rng& generator)
    : Context(key_to_copy, generator, CodeTables::build(key_to_copy, CodeTables::Use::Both)) {}

Context::Context(const Key& key_to_copy, const Rng& generator,
                 std::shared_ptr<const CodeTables> key_tables)
    : key(key_to_copy), rng(generator), tables(std::move(key_tables)) {}

Context::~Context() {
  wipe(&rng, sizeof rng);
  wipe(&mod_a, sizeof mod_a);
  wipe(&mod_b, sizeof mod_b);
  wipe(&mod_c, sizeof mod_c);
  wipe(&mod_s, sizeof mod_s);
}

Status Context::refuse_if_served() const {
  if (served_) return IoError::custom(ErrorKind::InvalidInput, "a context serves one stream");
  return Done{};
}

Status Context::begin_stream(bool encoding) {
  if (auto unused = refuse_if_served(); !unused) return unused;
  const bool has_tables = tables && (encoding ? tables->has_codes() : tables->has_inverses());
  if (!has_tables) {
    return IoError::custom(ErrorKind::InvalidInput, encoding
                                                        ? "the context has no tables for encoding"
                                                        : "the context has no tables for decoding");
  }
  served_ = true;
  if (!buffers) buffers = std::make_shared<StreamBuffers>();
  return Done{};
}

// The choices are drawn first, then used: the same steps, in the same order, as drawing each
// as its code is made.
void Context::inflate_4x(const std::uint8_t* block, std::uint8_t* expanded) {
  std::array<std::uint8_t, 768> choices;
  draw_bytes(rng, choices.data(), choices.size());
  expand(*tables, block, choices.data(), expanded);
  wipe(choices.data(), choices.size());
}

}  // namespace jx

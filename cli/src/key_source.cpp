#include "jxcli/key_source.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "jx/byte_order.h"
#include "jx/hash.h"
#include "jx/jx.h"

namespace jxcli {
namespace {

[[noreturn]] void cannot_import(std::FILE* messages) {
  std::fputs("Cannot import key file, parsing error\n", messages);
  std::exit(1);
}

}  // namespace

jx::Key obtain_key(const std::string& key_path, const KeyRequest& request) {
  if (!key_path.empty()) {
    jx::Key key;
    // A table that is not a permutation drops input bytes: its streams could never be read.
    if (!key.import_from(key_path) || !key.is_permutation()) {
      key = jx::Key{};  // a partly imported key is still key material
      cannot_import(request.messages);
    }
    return key;
  }
  jx::PasswordOutcome entered = enter_password(request.channel, request.confirmation);
  if (!entered.password) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", entered.failure.c_str());
    std::exit(1);
  }
  return jx::Key::new_from_string(std::move(*entered.password));
}

jx::PasswordOutcome enter_password(const jx::PasswordChannel& channel,
                                   jx::Confirmation confirmation) {
  jx::Result<jx::PasswordOutcome> entered = jx::get_password(channel, confirmation);
  std::fflush(stdout);  // the prompts come before whatever follows on standard error
  if (!entered) {
    std::fprintf(stderr, "Cannot read password: %s\n", entered.error().message_form().c_str());
    std::exit(1);
  }
  const auto& password = entered.value().password;
  if (password && password->empty()) {
    std::fputs("Warning: the password is empty; anyone can use the key it gives\n", stderr);
  }
  return std::move(entered).value();
}

jx::Result<jx::Key> key_from_source(jx::File& source) {
  jx::Hash hash(jx::Key::kSeedSize);
  std::vector<std::uint8_t> chunk(1 << 16);
  std::size_t pending = 0;  // bytes of an unfinished word at the start of the chunk
  for (;;) {
    auto read = source.read_some(std::span(chunk).subspan(pending));
    if (!read) {
      jx::wipe(chunk);
      return read.error();
    }
    const std::size_t available = pending + read.value();
    const bool at_end = read.value() == 0;
    std::size_t at = 0;
    for (; at + 4 <= available; at += 4) {
      hash.digest(jx::load_big_endian_32(&chunk[at]));
    }
    pending = available - at;
    std::copy(chunk.begin() + static_cast<std::ptrdiff_t>(at),
              chunk.begin() + static_cast<std::ptrdiff_t>(available), chunk.begin());
    if (at_end) break;
  }
  if (pending > 0) {
    std::fill(chunk.begin() + static_cast<std::ptrdiff_t>(pending), chunk.begin() + 4, 0);
    hash.digest(jx::load_big_endian_32(chunk.data()));
  }
  jx::wipe(chunk);
  return jx::Key::new_from_seed(hash.get());
}

}  // namespace jxcli

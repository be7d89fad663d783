#pragma once

#include <optional>
#include <string>

#include "jx/context.h"
#include "jx/io_error.h"
#include "jx/key.h"
#include "jx/rng.h"
#include "jx/thread_count.h"

namespace jx {

// What get_password gives: the password, or the failure text when the entries differed.
struct PasswordOutcome {
  std::optional<std::string> password;  // NFKC form of the entry typed twice
  std::string failure;                  // "Passwords do not match\n" when they differed
  PasswordOutcome() = default;
  PasswordOutcome(PasswordOutcome&&) = default;
  PasswordOutcome& operator=(PasswordOutcome&&) = default;
  ~PasswordOutcome();  // the password is wiped
};

// Asks twice for a password on standard input ("Enter your password:" on standard output),
// with echo off on a terminal. A reading error, or an input that ends before the first entry
// has begun, is returned as the error, the terminal restored.
Result<PasswordOutcome> get_password();

}  // namespace jx

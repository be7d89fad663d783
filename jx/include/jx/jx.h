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
  std::optional<std::string> password;  // NFKC form of the entry
  std::string failure;                  // "Passwords do not match\n" when they differed
  PasswordOutcome() = default;
  PasswordOutcome(PasswordOutcome&&) = default;
  PasswordOutcome& operator=(PasswordOutcome&&) = default;
  ~PasswordOutcome();  // the password is wiped
};

// Where the entries of a password are read, and where their prompts are written.
struct PasswordChannel {
  int input = 0;   // standard input, or an open terminal such as /dev/tty
  int prompt = 1;  // standard output goes through its buffer; any other is written directly
};

// Whether the password is typed a second time to confirm it; a failure to match can only
// come from Twice.
enum class Confirmation { Twice, Once };

// Asks twice for a password on standard input ("Enter your password:" on standard output),
// with echo off on a terminal. A reading error, or an input that ends before the first entry
// has begun, is returned as the error, the terminal restored.
Result<PasswordOutcome> get_password();
// The same on the given channel, with one entry or two.
Result<PasswordOutcome> get_password(const PasswordChannel& channel, Confirmation confirmation);

}  // namespace jx

#pragma once

#include <cstdio>
#include <string>

#include "jx/file.h"
#include "jx/io_error.h"
#include "jx/jx.h"
#include "jx/key.h"

namespace jxcli {

// How a program asks for its key: where a password is typed and prompted for, whether it is
// typed twice, and the stream that takes the key file's import failure.
struct KeyRequest {
  jx::PasswordChannel channel;
  jx::Confirmation confirmation = jx::Confirmation::Twice;
  std::FILE* messages = stdout;
};

// The key for jxenc and jxdec: imported from the key file at `key_path`, or, when the path
// is empty, made from a password. When neither works, "Cannot import key file, parsing
// error" or the password failure is printed and the run ends with status 1.
jx::Key obtain_key(const std::string& key_path, const KeyRequest& request = {});

// A password, or the failure text when two entries differed. A reading error ends the run
// with "Cannot read password: ..." on standard error and status 1; an empty password is
// taken with a warning on standard error.
jx::PasswordOutcome enter_password(const jx::PasswordChannel& channel = {},
                                   jx::Confirmation confirmation = jx::Confirmation::Twice);

// The key of a file's contents: its bytes hashed as big-endian 32-bit words, a final group
// of 1 to 3 bytes filled with zeros.
jx::Result<jx::Key> key_from_source(jx::File& source);

}  // namespace jxcli

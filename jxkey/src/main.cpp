// jxkey: makes one key, from randomness, a file's contents or a password, and writes it to
// the key file NAME.jxk.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "jx/file.h"
#include "jx/jx.h"
#include "jxcli/args.h"
#include "jxcli/core_dumps.h"
#include "jxcli/key_source.h"
#include "jxcli/keygen_args.h"
#include "jxcli/seeding.h"

namespace {

constexpr const char* kProgram = "jxkey";

[[noreturn]] void refuse(const std::string& why) { jxcli::refuse(stdout, kProgram, why); }

[[noreturn]] void fail(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::exit(1);
}

std::string take(jxcli::KeygenCommand& command, const char* what) {
  if (command.positional.empty()) refuse(std::string("no ") + what + " given");
  std::string taken = command.positional.front();
  jx::wipe(command.positional.front());  // it may be a password
  command.positional.pop_front();
  return taken;
}

jx::Key random_key(jx::Rng& rng) {
  std::vector<std::uint8_t> seed(jx::Key::kSeedSize);
  for (auto& byte : seed) byte = static_cast<std::uint8_t>(rng.get());
  return jx::Key::new_from_seed(std::move(seed)).value();
}

jx::Key file_key(jxcli::KeygenCommand& command) {
  auto source = jx::File::open_read(take(command, "SOURCE"));
  if (!source) fail("Error: " + source.error().detailed_form() + "\n");
  auto key = jxcli::key_from_source(source.value());
  if (!key) fail("Error: " + key.error().message_form() + "\n");
  return std::move(key).value();
}

jx::Key prompted_key() {
  jx::PasswordOutcome entered = jxcli::enter_password();
  if (!entered.password) {
    std::fflush(stdout);
    std::fputs(entered.failure.c_str(), stderr);
    std::exit(101);
  }
  return jx::Key::new_from_string(std::move(*entered.password));
}

jx::Key derive_key(jxcli::KeygenCommand& command, jx::Rng& rng) {
  switch (command.mode()) {
    case jxcli::KeygenMode::Random:
      return random_key(rng);
    case jxcli::KeygenMode::File:
      return file_key(command);
    case jxcli::KeygenMode::Inline:
      return jx::Key::new_from_string(take(command, "PASSWORD"));
    case jxcli::KeygenMode::Prompt:
      break;
  }
  return prompted_key();
}

int run(int argc, char** argv) {
  jxcli::forbid_core_dumps();
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  std::vector<std::string> arguments = jxcli::arguments_of(argc, argv);
  jx::Rng rng = jxcli::generator_from_os();
  if (arguments.empty()) {
    std::fputs("  Usage: jxkey [-r | -f source | -i password] name\n", stdout);
    return jxcli::finish(kProgram, 2);
  }
  if (auto problem = jxcli::first_argument_problem(arguments)) refuse(*problem);
  jxcli::KeygenCommand command = jxcli::scan_keygen_arguments(arguments);
  for (auto& argument : arguments) jx::wipe(argument);  // copies of a password among them
  const jx::Key key = derive_key(command, rng);
  // Returning rather than exiting from here on lets the key be wiped on every path.
  if (command.positional.empty()) {
    std::fputs("jxkey: no NAME given\n", stdout);
    return jxcli::finish(kProgram, 2);
  }
  if (auto written = key.export_to(command.positional.front() + ".jxk"); !written) {
    std::printf("Cannot write key file: %s\n", written.error().message_form().c_str());
    return jxcli::finish(kProgram, 1);
  }
  return jxcli::finish(kProgram, 0);
}

}  // namespace

int main(int argc, char** argv) { return jxcli::guarded(kProgram, run, argc, argv); }

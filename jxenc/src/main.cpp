// jxenc: encrypts every file named on the command line into NAME.jxd, with the key of a key
// file or of a password typed twice; with --stdout, one file or standard input to standard
// output.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "jx/jx.h"
#include "jxcli/args.h"
#include "jxcli/core_dumps.h"
#include "jxcli/codec_args.h"
#include "jxcli/codec_run.h"
#include "jxcli/key_source.h"
#include "jxcli/progress.h"
#include "jxcli/seeding.h"
#include "jxcli/stream_mode.h"

namespace {

constexpr const char* kProgram = "jxenc";

bool encode_file(const jx::Key& key, const jxcli::CodecRun& shared,
                 const jxcli::CodecCommand& command, const std::string& name) {
  if (command.verbose) std::printf("  PROCESSING: %s\n", name.c_str());
  jx::Context context(key, jxcli::generator_from_os(), shared.tables);
  shared.lend_to(context);
  context.options.partial = command.partial;
  context.options.inflate = command.inflate;
  jxcli::ProgressMeter meter(name, shared.on_terminal);
  if (meter.active()) context.on_progress = [&meter](std::uint64_t done) { meter.update(done); };
  auto encoded = context.encode_file(name, name + ".jxd", command.force);
  meter.clear();
  if (!encoded) std::printf("%s\n", encoded.error().detailed_form().c_str());
  return encoded.ok();
}

int run(int argc, char** argv) {
  jxcli::forbid_core_dumps();
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  const std::vector<std::string> arguments = jxcli::arguments_of(argc, argv);
  jxcli::CodecCommand command = jxcli::scan_codec_arguments(arguments, jxcli::Codec::Encoder);
  if (auto problem = jxcli::first_argument_problem(arguments, command.key_path_at)) {
    jxcli::refuse(stderr, kProgram, *problem);
  }
  if (!command.threads_problem.empty()) jxcli::refuse(stderr, kProgram, command.threads_problem);
  if (!command.to_stdout) {
    for (const auto& notice : command.notices) std::fputs(notice.c_str(), stdout);
  }
  if (command.key_path_missing) {
    std::fflush(stdout);
    std::fputs("Error parsing key path: no value provided\nUsage: jxenc -k path/to/key\n", stderr);
    return jxcli::finish(kProgram, 2);
  }
  if (command.to_stdout) {
    return jxcli::finish(kProgram, jxcli::run_stream_mode(kProgram, jxcli::Codec::Encoder, command));
  }
  if (command.files.empty()) command.verbose = false;
  if (command.inflate && command.verbose) {
    std::fputs("  WARNING: inflate quadruples data size.\n\n", stdout);
  }
  const jx::Key key = jxcli::obtain_key(command.key_path);
  const jxcli::CodecRun shared(key, jx::CodeTables::Use::Encoding, command);
  bool all_encoded = true;
  for (const auto& name : command.files) {
    const bool done =
        jxcli::reporting_lack_of_memory([&] { return encode_file(key, shared, command, name); });
    all_encoded = done && all_encoded;
  }
  return jxcli::finish(kProgram, all_encoded ? 0 : 1);
}

}  // namespace

int main(int argc, char** argv) { return jxcli::guarded(kProgram, run, argc, argv); }

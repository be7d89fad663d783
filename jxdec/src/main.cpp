// jxdec: decrypts every stream file NAME.jxd named on the command line back into NAME, with
// the key of a key file or of a password; with --stdout, one stream file or standard input
// to standard output.

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
#include "jxcli/stream_mode.h"

namespace {

constexpr const char* kProgram = "jxdec";

bool decode_file(const jx::Key& key, const jxcli::CodecRun& shared,
                 const jxcli::CodecCommand& command, const std::string& name) {
  if (command.verbose) std::printf("  PROCESSING: %s\n", name.c_str());
  if (!jxcli::ends_with_stream_suffix(name) || name.size() == 4) {
    std::printf("Cannot decode %s: the name does not end in .jxd\n", name.c_str());
    return false;
  }
  // Decoding draws nothing from the generator, so it needs no operating-system randomness.
  jx::Context context(key, jx::Rng(jx::Rng::Seed{}), shared.tables);
  shared.lend_to(context);
  jxcli::ProgressMeter meter(name, shared.on_terminal);
  if (meter.active()) context.on_progress = [&meter](std::uint64_t done) { meter.update(done); };
  auto decoded = context.decode_file(name, name.substr(0, name.size() - 4), command.force);
  meter.clear();
  if (!decoded) std::printf("%s\n", decoded.error().detailed_form().c_str());
  return decoded.ok();
}

int run(int argc, char** argv) {
  jxcli::forbid_core_dumps();
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  const std::vector<std::string> arguments = jxcli::arguments_of(argc, argv);
  if (arguments.empty()) {
    std::fputs("  Usage: jxdec [-k keyfile] [-F] [-V] file.jxd ...\n", stdout);
    return jxcli::finish(kProgram, 2);
  }
  jxcli::CodecCommand command = jxcli::scan_codec_arguments(arguments, jxcli::Codec::Decoder);
  if (command.key_path_missing) {
    std::fflush(stdout);
    std::fputs("Error parsing key path: no value provided\nUsage: jxdec -k path/to/key\n", stderr);
    return jxcli::finish(kProgram, 2);
  }
  if (auto problem = jxcli::first_argument_problem(arguments, command.key_path_at)) {
    jxcli::refuse(stderr, kProgram, *problem);
  }
  if (!command.threads_problem.empty()) jxcli::refuse(stderr, kProgram, command.threads_problem);
  if (command.to_stdout) {
    return jxcli::finish(kProgram, jxcli::run_stream_mode(kProgram, jxcli::Codec::Decoder, command));
  }
  if (command.files.empty()) command.verbose = false;
  jxcli::KeyRequest request;
  request.confirmation = jx::Confirmation::Once;  // a decryption has nothing to confirm
  const jx::Key key = jxcli::obtain_key(command.key_path, request);
  const jxcli::CodecRun shared(key, jx::CodeTables::Use::Decoding, command);
  bool all_decoded = true;
  for (const auto& name : command.files) {
    const bool done =
        jxcli::reporting_lack_of_memory([&] { return decode_file(key, shared, command, name); });
    all_decoded = done && all_decoded;
  }
  return jxcli::finish(kProgram, all_decoded ? 0 : 1);
}

}  // namespace

int main(int argc, char** argv) { return jxcli::guarded(kProgram, run, argc, argv); }

#include "jxcli/stream_mode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "jx/jx.h"
#include "jxcli/args.h"
#include "jxcli/key_source.h"
#include "jxcli/progress.h"
#include "jxcli/seeding.h"

namespace jxcli {
namespace {

// The descriptors 0 and 1 seen as Files for the length of a run, never closed by them.
class BorrowedFile {
 public:
  explicit BorrowedFile(int fd) : file_(fd) {}
  ~BorrowedFile() { file_.release(); }
  BorrowedFile(const BorrowedFile&) = delete;
  BorrowedFile& operator=(const BorrowedFile&) = delete;
  jx::File& file() { return file_; }

 private:
  jx::File file_;
};

// Refuses, with status 2, what this mode cannot do, before any prompt.
void refuse_impossible(const char* program, Codec codec, const CodecCommand& command) {
  if (command.files.size() > 1) {
    refuse(stderr, program,
           "--stdout takes at most one file name (" + std::to_string(command.files.size()) +
               " given)");
  }
  if (::isatty(STDOUT_FILENO)) {
    refuse(stderr, program,
           codec == Codec::Encoder
               ? "refusing to write a stream to a terminal; redirect standard output"
               : "refusing to write decrypted data to a terminal; redirect standard output");
  }
}

// The key, its password typed where it cannot mix with the data: on the controlling
// terminal when standard input carries the data, else on standard input with the prompt on
// standard error.
jx::Key stream_mode_key(const char* program, Codec codec, const CodecCommand& command) {
  KeyRequest request;
  request.messages = stderr;
  if (codec == Codec::Decoder) request.confirmation = jx::Confirmation::Once;
  if (!command.key_path.empty()) return obtain_key(command.key_path, request);
  if (!command.files.empty()) {
    request.channel = {STDIN_FILENO, STDERR_FILENO};
    return obtain_key(command.key_path, request);
  }
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    refuse(stderr, program,
           "standard input carries the data and there is no terminal to type the password "
           "on; use a key file (-k)");
  }
  jx::File terminal(fd);
  request.channel = {terminal.fd(), terminal.fd()};
  return obtain_key(command.key_path, request);
}

// A regular file's footer is checked against its size before anything is decoded, so a
// truncated stream from a file puts out nothing; from a pipe it is found only at the end.
jx::Status run_codec(jx::Context& context, Codec codec, jx::File& input, jx::File& output) {
  if (codec == Codec::Encoder) return context.encode_stream(input, output);
  return context.decode_stream(input, output);
}

std::unique_ptr<jx::Context> context_for(const jx::Key& key, Codec codec,
                                         const CodecCommand& command) {
  std::unique_ptr<jx::Context> context;
  if (codec == Codec::Decoder) {
    // Decoding draws nothing from the generator, so it needs no operating-system randomness.
    context = std::make_unique<jx::Context>(
        key, jx::Rng(jx::Rng::Seed{}), jx::CodeTables::build(key, jx::CodeTables::Use::Decoding));
  } else {
    context = std::make_unique<jx::Context>(
        key, generator_from_os(), jx::CodeTables::build(key, jx::CodeTables::Use::Encoding));
    context->options.partial = command.partial;
    context->options.inflate = command.inflate;
  }
  context->threads = command.threads != 0 ? command.threads : jx::default_thread_count();
  return context;
}

jx::Status transform(const jx::Key& key, Codec codec, const CodecCommand& command) {
  const std::string name = command.files.empty() ? std::string() : command.files.front();
  if (command.verbose) {
    std::fprintf(stderr, "  PROCESSING: %s\n", name.empty() ? "standard input" : name.c_str());
  }
  auto context = context_for(key, codec, command);
  jx::File named;
  if (!name.empty()) {
    auto opened = jx::File::open_read(name);
    if (!opened) return opened.error();
    named = std::move(opened.value());
  }
  BorrowedFile standard_input(STDIN_FILENO);
  BorrowedFile standard_output(STDOUT_FILENO);
  jx::File& input = name.empty() ? standard_input.file() : named;
  ProgressMeter meter(name, ProgressMeter::stderr_is_terminal());
  if (meter.active()) context->on_progress = [&meter](std::uint64_t done) { meter.update(done); };
  jx::Status done = run_codec(*context, codec, input, standard_output.file());
  meter.clear();
  return done;
}

}  // namespace

int run_stream_mode(const char* program, Codec codec, const CodecCommand& command) {
  refuse_impossible(program, codec, command);
  for (const auto& notice : command.notices) std::fputs(notice.c_str(), stderr);
  if (command.inflate && command.verbose) {
    std::fputs("  WARNING: inflate quadruples data size.\n\n", stderr);
  }
  const jx::Key key = stream_mode_key(program, codec, command);
  const jx::Status done = transform(key, codec, command);
  if (done) return 0;
  // With SIGPIPE ignored, a reader that went away shows as a broken pipe: nothing to report.
  if (done.error().kind() != jx::ErrorKind::BrokenPipe) {
    std::fprintf(stderr, "%s\n", done.error().detailed_form().c_str());
  }
  return 1;
}

}  // namespace jxcli

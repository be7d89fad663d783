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

std::uint64_t big_endian_64(const std::uint8_t* bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = value << 8 | bytes[i];
  return value;
}

bool read_at(int fd, std::uint8_t* buffer, std::size_t size, std::uint64_t offset) {
  const ssize_t n = ::pread(fd, buffer, size, static_cast<off_t>(offset));
  return n == static_cast<ssize_t>(size);
}

// Whether a stream's size and the byte count in its footer can belong together; blocks take
// 256 input bytes, or 129 to 256 with partial, and the last block at least one.
bool footer_fits(std::uint64_t size, std::uint8_t options, std::uint64_t total) {
  const std::uint64_t block = (options & 2) != 0 ? 1024 : 256;
  const std::uint64_t framing = jx::Context::kHeaderSize + jx::Context::kFooterSize;
  if (size < framing || (size - framing) % block != 0) return false;
  const std::uint64_t blocks = (size - framing) / block;
  if (blocks == 0) return total == 0;
  const std::uint64_t least_before_last = (blocks - 1) * ((options & 1) != 0 ? 129 : 256);
  return total > least_before_last && total <= blocks * 256;
}

// On a regular file the footer can be checked before anything is written, so that a
// truncated stream puts out nothing. Other inputs, and what the header itself rejects, are
// left to the decoder.
jx::Status check_stored_footer(const jx::File& input) {
  struct stat info {};
  if (::fstat(input.fd(), &info) != 0 || !S_ISREG(info.st_mode)) return jx::Done{};
  const auto size = static_cast<std::uint64_t>(info.st_size);
  std::uint8_t header[5];
  if (size < jx::Context::kHeaderSize || !read_at(input.fd(), header, 5, 0)) return jx::Done{};
  if (header[0] != 'J' || header[1] != 'X' || header[2] != 'D') return jx::Done{};
  std::uint8_t footer[jx::Context::kFooterSize];
  const bool fits = size >= jx::Context::kHeaderSize + jx::Context::kFooterSize &&
                    read_at(input.fd(), footer, sizeof footer, size - sizeof footer) &&
                    footer_fits(size, header[4], big_endian_64(footer));
  if (fits) return jx::Done{};
  return jx::IoError::custom(jx::ErrorKind::InvalidData, "stream is truncated or corrupted");
}

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

jx::Status run_codec(jx::Context& context, Codec codec, jx::File& input, jx::File& output) {
  if (codec == Codec::Encoder) return context.encode_stream(input, output);
  if (auto checked = check_stored_footer(input); !checked) return checked;
  return context.decode_stream(input, output);
}

std::unique_ptr<jx::Context> context_for(const jx::Key& key, Codec codec,
                                         const CodecCommand& command) {
  if (codec == Codec::Decoder) {
    // Decoding draws nothing from the generator, so it needs no operating-system randomness.
    return std::make_unique<jx::Context>(key, jx::Rng(jx::Rng::Seed{}));
  }
  auto context = std::make_unique<jx::Context>(key);
  context->options.partial = command.partial;
  context->options.inflate = command.inflate;
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
  ProgressMeter meter(name);
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

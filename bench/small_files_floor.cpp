// The unavoidable I/O of jxenc or jxdec on many small files, with nothing else: read each
// input, create its output unnamed in the input's directory, write as many bytes as the
// program would, flush the data, give the output its name, and flush each directory once at
// the end. bench/run.sh times it beside the programs on the same files.
//
//   small_files_floor enc FILE...      writes FILE.jxd, as long as its stream would be
//   small_files_floor dec FILE.jxd...  writes FILE, as long as the stream's footer says
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const std::string& what) {
  std::perror(what.c_str());
  std::exit(1);
}

std::string directory_of(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

std::vector<std::uint8_t> read_all(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail(path);
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[65536];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0) fail(path);
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  ::close(fd);
  return bytes;
}

std::uint64_t output_size(bool encoding, const std::vector<std::uint8_t>& input) {
  if (encoding) return 45 + (input.size() + 255) / 256 * 256;
  std::uint64_t total = 0;
  for (std::size_t i = input.size() - 8; i < input.size(); ++i) total = total << 8 | input[i];
  return total;
}

void write_named(const std::string& path, std::uint64_t size) {
  const int fd = ::open(directory_of(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) fail(path);
  const std::vector<std::uint8_t> bytes(size, 0x5a);
  if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) fail(path);
  if (::fdatasync(fd) != 0) fail(path);
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) fail(path);
  ::close(fd);
}

void flush_directory(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) fail(directory);
  ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: small_files_floor enc|dec FILE...\n", stderr);
    return 2;
  }
  const bool encoding = std::string(argv[1]) == "enc";
  std::set<std::string> directories;
  for (int i = 2; i < argc; ++i) {
    const std::string input = argv[i];
    const auto bytes = read_all(input);
    const std::string output = encoding ? input + ".jxd" : input.substr(0, input.size() - 4);
    write_named(output, output_size(encoding, bytes));
    directories.insert(directory_of(output));
  }
  for (const auto& directory : directories) flush_directory(directory);
  return 0;
}

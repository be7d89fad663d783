#include "scratch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace jxtest {
namespace fs = std::filesystem;

Scratch::Scratch() {
  std::string pattern = (fs::temp_directory_path() / "jx-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  ::chmod(path_.c_str(), 0777);  // tests may run a program as another user
}

Scratch::~Scratch() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

void Scratch::write(const std::string& name, const std::string& bytes) const {
  std::ofstream out(at(name), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + at(name));
}

void Scratch::write(const std::string& name, std::span<const std::uint8_t> bytes) const {
  write(name, std::string(bytes.begin(), bytes.end()));
}

std::string Scratch::read(const std::string& name) const {
  std::ifstream in(at(name), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + at(name));
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

std::vector<std::uint8_t> Scratch::read_bytes(const std::string& name) const {
  const std::string bytes = read(name);
  return {bytes.begin(), bytes.end()};
}

bool Scratch::exists(const std::string& name) const {
  struct stat info;
  return ::lstat(at(name).c_str(), &info) == 0;
}

unsigned Scratch::mode(const std::string& name) const {
  struct stat info;
  if (::stat(at(name).c_str(), &info) != 0) return 0;
  return info.st_mode & 0777;
}

std::vector<std::string> Scratch::entries() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(path_)) {
    std::string name = entry.path().lexically_relative(path_).string();
    if (entry.is_directory() && !entry.is_symlink()) name += "/";
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace jxtest

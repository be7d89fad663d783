#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace jxtest {

// A fresh directory that is removed with everything in it when the value goes out of scope.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const std::string& path() const { return path_; }
  std::string at(const std::string& name) const { return path_ + "/" + name; }

  void write(const std::string& name, const std::string& bytes) const;
  void write(const std::string& name, std::span<const std::uint8_t> bytes) const;
  std::string read(const std::string& name) const;
  std::vector<std::uint8_t> read_bytes(const std::string& name) const;
  bool exists(const std::string& name) const;
  // File mode bits (0777 part) of an entry.
  unsigned mode(const std::string& name) const;
  // Every entry below the directory, as relative paths, sorted; directories end in "/".
  std::vector<std::string> entries() const;

 private:
  std::string path_;
};

}  // namespace jxtest

#include "jxcli/progress.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace jxcli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(200);

std::string duration_text(double seconds) {
  const auto whole = static_cast<long long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  return text;
}

void write_stderr(const std::string& text) {
  std::size_t at = 0;
  while (at < text.size()) {
    ssize_t n = ::write(STDERR_FILENO, text.data() + at, text.size() - at);
    if (n <= 0) return;  // a meter that cannot be shown is not worth failing for
    at += static_cast<std::size_t>(n);
  }
}

}  // namespace

bool ProgressMeter::stderr_is_terminal() { return ::isatty(STDERR_FILENO) != 0; }

ProgressMeter::ProgressMeter(const std::string& path, bool on_terminal) {
  struct stat info;
  if (!on_terminal || ::stat(path.c_str(), &info) != 0) return;
  if (!S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) < kThreshold) return;
  total_ = static_cast<std::uint64_t>(info.st_size);
  start_ = Clock::now();
}

ProgressMeter::~ProgressMeter() { clear(); }

void ProgressMeter::update(std::uint64_t done) {
  if (!active()) return;
  const auto now = Clock::now();
  if (drawn_ && now - last_draw_ < kRedrawInterval) return;
  last_draw_ = now;
  draw(done);
}

void ProgressMeter::draw(std::uint64_t done) {
  if (done > total_) done = total_;
  const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
  const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
  const double left = rate > 0 ? static_cast<double>(total_ - done) / rate : 0;
  char line[128];
  std::snprintf(line, sizeof line, "\r  %3d%%  %8.1f MB/s  %s left\033[K",
                static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(total_)),
                rate / 1e6, duration_text(left).c_str());
  write_stderr(line);
  drawn_ = true;
}

void ProgressMeter::clear() {
  if (!drawn_) return;
  write_stderr("\r\033[K");
  drawn_ = false;
}

}  // namespace jxcli

#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace jxcli {

// A one-line progress meter on standard error (percent, MB/s, time left) for a file of 64 MiB
// or more, shown only when standard error is a terminal and cleared when the file is done.
class ProgressMeter {
 public:
  static constexpr std::uint64_t kThreshold = 64ull << 20;

  // `path` names the file whose bytes are counted; nothing is shown unless it is a regular
  // file of at least the threshold and `on_terminal`, which a run asks once of
  // stderr_is_terminal().
  ProgressMeter(const std::string& path, bool on_terminal);
  ~ProgressMeter();
  ProgressMeter(const ProgressMeter&) = delete;
  ProgressMeter& operator=(const ProgressMeter&) = delete;

  static bool stderr_is_terminal();

  bool active() const { return total_ > 0; }
  // Counts `done` bytes of the file as processed; redraws at most a few times a second.
  void update(std::uint64_t done);
  // Removes the line.
  void clear();

 private:
  using Clock = std::chrono::steady_clock;
  void draw(std::uint64_t done);

  std::uint64_t total_ = 0;
  Clock::time_point start_;
  Clock::time_point last_draw_;
  bool drawn_ = false;
};

}  // namespace jxcli

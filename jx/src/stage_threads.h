#pragma once

#include <functional>
#include <thread>
#include <vector>

namespace jx {

// The threads of a parallel run, joined when the value goes out of scope. They start with
// every asynchronous signal blocked, so that such signals, and the output cleanup they
// trigger, reach the thread that started them.
class StageThreads {
 public:
  StageThreads() = default;
  StageThreads(const StageThreads&) = delete;
  StageThreads& operator=(const StageThreads&) = delete;
  ~StageThreads();

  // Starts `body` on a new thread; throws std::system_error when no thread can be made.
  void start(std::function<void()> body);
  void join();

 private:
  std::vector<std::thread> threads_;
};

}  // namespace jx

#include "stage_threads.h"

#include <pthread.h>
#include <signal.h>

namespace jx {
namespace {

// Blocks every signal but those a thread raises itself by a fault, for as long as it lives.
class AsynchronousSignalsBlocked {
 public:
  AsynchronousSignalsBlocked() {
    sigset_t blocked;
    sigfillset(&blocked);
    for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS}) {
      sigdelset(&blocked, fault);
    }
    pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
  }
  ~AsynchronousSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  AsynchronousSignalsBlocked(const AsynchronousSignalsBlocked&) = delete;
  AsynchronousSignalsBlocked& operator=(const AsynchronousSignalsBlocked&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace

StageThreads::~StageThreads() {
  join();
}

void StageThreads::start(std::function<void()> body) {
  // A new thread inherits the signal mask of the thread that makes it.
  const AsynchronousSignalsBlocked blocked;
  threads_.emplace_back(std::move(body));
}

void StageThreads::join() {
  for (auto& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
  threads_.clear();
}

}  // namespace jx

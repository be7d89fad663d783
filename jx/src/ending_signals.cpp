#include "ending_signals.h"

#include <algorithm>
#include <iterator>

namespace jx {
namespace {

constexpr int kSentSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGPIPE,   SIGXFSZ,
                                SIGXCPU, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
                                SIGIO,   SIGPWR,  SIGSTKFLT};
constexpr int kFaultSignals[] = {SIGABRT, SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGSYS, SIGTRAP};

bool is_fault_signal(int signal_number) {
  return std::find(std::begin(kFaultSignals), std::end(kFaultSignals), signal_number) !=
         std::end(kFaultSignals);
}

std::vector<int> list_ending_signals() {
  std::vector<int> signals(std::begin(kSentSignals), std::end(kSentSignals));
  signals.insert(signals.end(), std::begin(kFaultSignals), std::end(kFaultSignals));
  for (int real_time = SIGRTMIN; real_time <= SIGRTMAX; ++real_time) signals.push_back(real_time);
  return signals;
}

}  // namespace

const std::vector<int>& ending_signals() {
  static const std::vector<int> signals = list_ending_signals();
  return signals;
}

bool may_take_over(int signal_number, const struct sigaction& current) {
  if (current.sa_handler == SIG_IGN) return false;
  return !is_fault_signal(signal_number) || current.sa_handler == SIG_DFL;
}

}  // namespace jx

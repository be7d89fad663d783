#pragma once

#include <signal.h>

#include <vector>

namespace jx {

// Every signal whose default action ends the process: those that others send (real-time
// signals included) and those of a fault of the program itself.
const std::vector<int>& ending_signals();

// Whether cleanup may stand in front of a signal whose disposition is `current`: never where
// the signal is ignored, and for the signals of a fault only where nobody else (a sanitizer's
// runtime, say) already handles them.
bool may_take_over(int signal_number, const struct sigaction& current);

}  // namespace jx

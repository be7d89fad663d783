#pragma once

#include <chrono>
#include <functional>

namespace jxtest {

// Checks the condition every few milliseconds until it holds; false when it still does not
// after the timeout.
bool poll_until(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace jxtest

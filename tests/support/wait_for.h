#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace tarvo::test {

// Waits on a condition, never on the clock: the bound is only there so that a
// broken build fails instead of hanging.
inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds bound = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

}  // namespace tarvo::test

#pragma once
// A point in time that waits run against. Every bounded wait of the port
// asks this one helper how long it may still poll.

#include <chrono>

class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  static Deadline After(std::chrono::milliseconds span) { return Deadline(Clock::now() + span); }

  bool Passed() const { return Clock::now() >= at_; }

  // Milliseconds left for poll(), rounded up so a wait never ends early; 0
  // once passed; at most `most`.
  int PollMs(int most = 1 << 30) const {
    const auto left = at_ - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms < most ? static_cast<int>(ms) : most;
  }

 private:
  explicit Deadline(Clock::time_point at) : at_(at) {}
  Clock::time_point at_;
};

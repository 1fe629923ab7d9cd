#pragma once
// Answers waiting to go out on the device end of a line, each at its own time
// (an answer delay, a gap between dribbled bytes). Writes never block: a full
// line leaves the rest queued until the descriptor can take more.

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace sign_sim {

class AnswerQueue {
 public:
  using Clock = std::chrono::steady_clock;

  // Queues an answer whose first byte is due at `start`, but never before the
  // previous answer has gone out (a gap after its last byte); with a gap, one
  // byte is due every gap.
  void Add(std::string bytes, Clock::time_point start, Clock::duration gap);
  // Writes what is due by `now` to the non-blocking descriptor; returns the
  // answers that are now out in full.
  std::vector<std::string> WriteDue(int fd, Clock::time_point now);
  // The line took no more at the last write: wait until it can.
  bool WaitingForRoom() const { return waitingForRoom_; }
  // When the next byte is due, unless nothing is queued.
  std::optional<Clock::time_point> NextDue() const;
  void Clear();

 private:
  struct Pending {
    std::string bytes;
    Clock::time_point start;
    Clock::duration gap;
    size_t written = 0;
    Clock::time_point DueOf(size_t index) const { return start + gap * static_cast<long>(index); }
  };
  std::deque<Pending> queue_;
  // When the last byte queued so far is due; nothing before the first answer,
  // so that answer waits for no gap whatever the clock reads.
  std::optional<Clock::time_point> lastDue_;
  bool waitingForRoom_ = false;
};

}  // namespace sign_sim

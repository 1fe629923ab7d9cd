#pragma once
// The agent's wall clock: the system's real-time clock, and a watch on its
// changes (someone set the time, NTP stepped it), so that scheduled changes
// are re-armed and the jump is recorded.
//
// Tests drive it without touching the machine's clock: when the environment
// names TARVO_AGENT_CLOCK_OFFSET_FILE, the file holds milliseconds added to
// the real-time clock, and writing it is a clock change like any other.

#include <systemd/sd-event.h>

#include <cstdint>
#include <functional>
#include <string>

namespace agent {

class AgentClock {
 public:
  // onJump gets how far the clock moved, in milliseconds (+ forward).
  AgentClock(sd_event* loop, std::function<void(int64_t jumpMs)> onJump);
  ~AgentClock();
  AgentClock(const AgentClock&) = delete;
  AgentClock& operator=(const AgentClock&) = delete;

  int64_t NowMs() const;
  // The real-time clock's microseconds at which this clock shows ms, for
  // sd-event's CLOCK_REALTIME timers.
  uint64_t RealtimeUsecAt(int64_t ms) const;

 private:
  static int OnClockSet(sd_event_source* source, int fd, uint32_t events, void* self);
  static int OnOffsetFile(sd_event_source* source, const struct inotify_event* event, void* self);
  bool ArmChangeWatch();  // false (errno set) when the kernel refused it
  void ReadOffset();
  void Moved();

  std::function<void(int64_t)> onJump_;
  int timerFd_ = -1;
  sd_event_source* clockSource_ = nullptr;
  sd_event_source* fileSource_ = nullptr;
  std::string offsetFile_;
  int64_t offsetMs_ = 0;
  int64_t wallMinusSteadyMs_ = 0;  // what changes when the clock is set
};

}  // namespace agent

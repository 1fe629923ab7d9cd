#include "agent/agent_clock.h"

#include <sys/inotify.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <limits>
#include <system_error>

namespace agent {

namespace {

int64_t Millis(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

AgentClock::AgentClock(sd_event* loop, std::function<void(int64_t)> onJump) : onJump_(std::move(onJump)) {
  timerFd_ = timerfd_create(CLOCK_REALTIME, TFD_CLOEXEC | TFD_NONBLOCK);
  if (timerFd_ < 0) throw std::system_error(errno, std::generic_category(), "timerfd_create");
  if (!ArmChangeWatch()) throw std::system_error(errno, std::generic_category(), "timerfd_settime");
  int result = sd_event_add_io(loop, &clockSource_, timerFd_, EPOLLIN, &AgentClock::OnClockSet, this);
  if (result < 0) throw std::system_error(-result, std::generic_category(), "sd_event_add_io");
  if (const char* file = std::getenv("TARVO_AGENT_CLOCK_OFFSET_FILE"); file != nullptr && *file) {
    offsetFile_ = file;
    ReadOffset();
    result = sd_event_add_inotify(loop, &fileSource_, file, IN_CLOSE_WRITE | IN_MODIFY,
                                  &AgentClock::OnOffsetFile, this);
    if (result < 0) throw std::system_error(-result, std::generic_category(), "watching " + offsetFile_);
  }
  wallMinusSteadyMs_ = NowMs() - Millis(CLOCK_MONOTONIC);
}

AgentClock::~AgentClock() {
  sd_event_source_disable_unref(fileSource_);
  sd_event_source_disable_unref(clockSource_);
  close(timerFd_);
}

int64_t AgentClock::NowMs() const { return Millis(CLOCK_REALTIME) + offsetMs_; }

uint64_t AgentClock::RealtimeUsecAt(int64_t ms) const {
  const int64_t real = ms - offsetMs_;
  return real <= 0 ? 1 : static_cast<uint64_t>(real) * 1000;
}

// A timer far in the future that the kernel cancels when the clock is set:
// the latest instant the kernel's timers hold (year 2262), not one a clock
// may reach and pass.
bool AgentClock::ArmChangeWatch() {
  itimerspec never{};
  never.it_value.tv_sec = std::numeric_limits<int64_t>::max() / 1000000000 - 1;
  return timerfd_settime(timerFd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &never, nullptr) == 0;
}

void AgentClock::ReadOffset() {
  std::ifstream file(offsetFile_);
  int64_t offset = 0;
  if (file >> offset) offsetMs_ = offset;
}

void AgentClock::Moved() {
  const int64_t now = NowMs() - Millis(CLOCK_MONOTONIC);
  const int64_t jump = now - wallMinusSteadyMs_;
  wallMinusSteadyMs_ = now;
  onJump_(jump);
}

int AgentClock::OnClockSet(sd_event_source*, int fd, uint32_t, void* self) {
  uint64_t expirations = 0;
  // ECANCELED: the clock was set. Either way the watch is armed again.
  (void)!read(fd, &expirations, sizeof expirations);
  auto* clock = static_cast<AgentClock*>(self);
  clock->ArmChangeWatch();
  clock->Moved();
  return 0;
}

int AgentClock::OnOffsetFile(sd_event_source*, const struct inotify_event*, void* self) {
  auto* clock = static_cast<AgentClock*>(self);
  const int64_t before = clock->offsetMs_;
  clock->ReadOffset();
  if (clock->offsetMs_ != before) clock->Moved();
  return 0;
}

}  // namespace agent

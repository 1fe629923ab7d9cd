// The agent's watch on clock changes is a real-time timer that the kernel
// cancels when the clock is set. It must be armed, and at an instant no clock
// reaches: one that passes fires the watch at once, and again at every
// re-arm, so the agent would record "clock changed" in a loop.
#include <dirent.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/agent_clock.h"

namespace {

// The timer descriptors this process holds.
std::vector<int> TimerDescriptors() {
  std::vector<int> found;
  DIR* folder = opendir("/proc/self/fd");
  while (dirent* entry = readdir(folder)) {
    char target[64] = {};
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    if (readlink(link.c_str(), target, sizeof target - 1) > 0 && std::string(target) == "anon_inode:[timerfd]")
      found.push_back(std::stoi(entry->d_name));
  }
  closedir(folder);
  return found;
}

TEST(AgentClockTest, TheClockWatchIsArmedBeyondAnyDateAClockReaches) {
  sd_event* loop = nullptr;
  ASSERT_GE(sd_event_new(&loop), 0);
  const std::vector<int> before = TimerDescriptors();
  {
    agent::AgentClock clock(loop, [](int64_t) {});
    std::vector<int> timers;
    for (int fd : TimerDescriptors())
      if (std::find(before.begin(), before.end(), fd) == before.end()) timers.push_back(fd);
    ASSERT_EQ(timers.size(), 1u);
    itimerspec armed{};
    ASSERT_EQ(timerfd_gettime(timers[0], &armed), 0);
    // Past 2038 (the 32-bit limit) and past 2100: no station's clock gets there.
    const auto year2100 = std::chrono::sys_days(std::chrono::year(2100) / 1 / 1);
    const auto untilThen = std::chrono::duration_cast<std::chrono::seconds>(
                               year2100 - std::chrono::system_clock::now())
                               .count();
    EXPECT_GT(armed.it_value.tv_sec, untilThen) << "the watch fires within "
                                                << armed.it_value.tv_sec << " s";
  }
  sd_event_unref(loop);
}

}  // namespace

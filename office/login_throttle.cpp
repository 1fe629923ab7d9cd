#include "office/login_throttle.h"

namespace office {

std::chrono::seconds LoginThrottle::Wait(const std::string& user, Clock::time_point now) const {
  const auto found = failures_.find(user);
  if (found == failures_.end() || found->second.size() < kFailures) return std::chrono::seconds(0);
  const auto free = found->second.front() + kWindow;
  if (free <= now) return std::chrono::seconds(0);
  return std::chrono::ceil<std::chrono::seconds>(free - now);
}

void LoginThrottle::Failed(const std::string& user, Clock::time_point now) {
  const auto aged = [now](const std::deque<Clock::time_point>& times) {
    return times.empty() || times.back() + kWindow <= now;
  };
  if (failures_.size() >= kNames && !failures_.count(user))
    std::erase_if(failures_, [&](const auto& entry) { return aged(entry.second); });
  std::deque<Clock::time_point>& times = failures_[user];
  while (!times.empty() && (times.size() >= kFailures || times.front() + kWindow <= now)) times.pop_front();
  times.push_back(now);
}

}  // namespace office

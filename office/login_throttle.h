#pragma once
// Failed logins per user name: after kFailures within kWindow the name is
// refused until the oldest of them is kWindow old, so a password cannot be
// guessed at the speed of the loop (each try costs a yescrypt hash on it).

#include <chrono>
#include <deque>
#include <map>
#include <string>

namespace office {

class LoginThrottle {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr size_t kFailures = 5;
  static constexpr std::chrono::minutes kWindow{10};
  // Names kept at most; beyond, names whose failures have all aged out go.
  static constexpr size_t kNames = 10000;

  // How long `user` must wait before trying again; zero: not at all.
  std::chrono::seconds Wait(const std::string& user, Clock::time_point now) const;
  void Failed(const std::string& user, Clock::time_point now);
  void Succeeded(const std::string& user) { failures_.erase(user); }

 private:
  std::map<std::string, std::deque<Clock::time_point>> failures_;
};

}  // namespace office

#include "mqtt/poll_loop.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

namespace tarvo_mqtt {

using Clock = std::chrono::steady_clock;

void PollLoop::Add(Client& client) { clients_.push_back(&client); }

void PollLoop::RunOnce(std::chrono::milliseconds bound) {
  Clock::time_point wake = Clock::now() + bound;
  std::vector<pollfd> fds;
  std::vector<Client*> owners;
  for (Client* client : clients_) {
    const Interest interest = client->Wanted();
    wake = std::min(wake, interest.wakeAt);
    if (interest.fd < 0) continue;
    fds.push_back({interest.fd, static_cast<short>(POLLIN | (interest.write ? POLLOUT : 0)), 0});
    owners.push_back(client);
  }
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
  const int ready =
      poll(fds.data(), fds.size(), static_cast<int>(std::max<int64_t>(0, wait.count())));
  if (ready < 0 && errno != EINTR) return;
  for (size_t i = 0; ready > 0 && i < fds.size(); ++i) {
    const short events = fds[i].revents;
    if (events != 0)
      owners[i]->OnReady((events & (POLLIN | POLLERR | POLLHUP)) != 0, (events & POLLOUT) != 0);
  }
  const Clock::time_point now = Clock::now();
  for (Client* client : clients_)
    if (client->Wanted().wakeAt <= now) client->OnTimer();
}

bool PollLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
  const Clock::time_point deadline = Clock::now() + bound;
  while (!done()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    RunOnce(left);
  }
  return true;
}

}  // namespace tarvo_mqtt

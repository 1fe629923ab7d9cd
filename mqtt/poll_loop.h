#pragma once
// A loop of poll(2) around clients: for a program that has nothing else to
// wait on (tarvo-fleet) and for tests that play stations.

#include <chrono>
#include <functional>
#include <vector>

#include "mqtt/client.h"

namespace tarvo_mqtt {

class PollLoop {
 public:
  void Add(Client& client);
  // Waits until a client's socket or timer is due, at most `bound`, and runs it.
  void RunOnce(std::chrono::milliseconds bound);
  // Runs until `done` holds or the bound passes; says whether `done` held.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds bound);

 private:
  std::vector<Client*> clients_;
};

}  // namespace tarvo_mqtt

#pragma once
// A client that listens to the broker on a thread of its own until it is
// destroyed, handing every message to `take` on that thread.

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "mqtt/client.h"
#include "mqtt/poll_loop.h"

namespace tarvo::test {

class BrokerListener {
 public:
  BrokerListener(tarvo_mqtt::ClientSettings settings, const std::vector<std::string>& filters,
                 std::function<void(const tarvo_mqtt::Message&)> take)
      : client_(std::move(settings), Callbacks(std::move(take))) {
    for (const std::string& filter : filters) client_.Subscribe(filter, 1);
    client_.Start();
    loop_.Add(client_);
    thread_ = std::thread([this] {
      while (!stop_) loop_.RunOnce(std::chrono::milliseconds(20));
    });
  }
  ~BrokerListener() {
    stop_ = true;
    thread_.join();
  }
  BrokerListener(const BrokerListener&) = delete;
  BrokerListener& operator=(const BrokerListener&) = delete;

 private:
  static tarvo_mqtt::ClientCallbacks Callbacks(
      std::function<void(const tarvo_mqtt::Message&)> take) {
    tarvo_mqtt::ClientCallbacks callbacks;
    callbacks.message = std::move(take);
    return callbacks;
  }

  tarvo_mqtt::Client client_;
  tarvo_mqtt::PollLoop loop_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace tarvo::test

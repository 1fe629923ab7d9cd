#pragma once
// Drives an MQTT client from the agent's sd-event loop: an io source on the
// client's socket (replaced whenever the client's socket is another one) and
// a time source at its wake-up time. No thread of the library's own.

#include <systemd/sd-event.h>
#include <sys/types.h>

#include "mqtt/client.h"

namespace agent {

class MqttLoopBinding {
 public:
  MqttLoopBinding(sd_event* loop, tarvo_mqtt::Client& client);
  ~MqttLoopBinding();
  MqttLoopBinding(const MqttLoopBinding&) = delete;
  MqttLoopBinding& operator=(const MqttLoopBinding&) = delete;

  // Follows the client's Wanted(); call after every call into the client
  // (its interestChanged callback does).
  void Update();

 private:
  static int OnIo(sd_event_source* source, int fd, uint32_t events, void* self);
  static int OnTime(sd_event_source* source, uint64_t usec, void* self);

  sd_event* loop_;
  tarvo_mqtt::Client& client_;
  sd_event_source* io_ = nullptr;
  int fd_ = -1;  // the client's socket (the loop watches a copy)
  ino_t socketInode_ = 0;  // a closed socket's number may come back as a new socket
  sd_event_source* timer_ = nullptr;
};

}  // namespace agent

#pragma once
// Drives a Client from a libsystemd sd-event loop, as a service's one loop:
// an io source on the client's socket (made again for each connection) and a
// time source on CLOCK_MONOTONIC at its wake-up time.
//
//   SdEventDriver driver(event);
//   Client client(settings, {..., .interestChanged = [&driver] { driver.Update(); }});
//   driver.Attach(client);
//   client.Start();
//   sd_event_loop(event);

#include <systemd/sd-event.h>

#include <chrono>
#include <cstdint>

#include "mqtt/client.h"

namespace tarvo_mqtt {

class SdEventDriver {
 public:
  explicit SdEventDriver(sd_event* loop);
  ~SdEventDriver();
  SdEventDriver(const SdEventDriver&) = delete;
  SdEventDriver& operator=(const SdEventDriver&) = delete;

  // Watches the client from now on; the client must outlive the driver's use.
  void Attach(Client& client);
  // The client's interestChanged: sets the sources to what it wants now.
  void Update();

 private:
  static int OnIo(sd_event_source* source, int fd, uint32_t events, void* self);
  static int OnTime(sd_event_source* source, uint64_t usec, void* self);

  sd_event* loop_;
  Client* client_ = nullptr;
  sd_event_source* io_ = nullptr;
  sd_event_source* timer_ = nullptr;
  int fd_ = -1;
  uint64_t attempt_ = 0;
  std::chrono::steady_clock::time_point wakeAt_ = std::chrono::steady_clock::time_point::max();
};

}  // namespace tarvo_mqtt

#pragma once
// An MQTT client that an outside event loop drives: it has no thread of its
// own and never blocks on the network (a host name is looked up in place).
// The loop watches Wanted().fd for reading (always) and writing (when
// Wanted().write), calls OnReady when it is ready and OnTimer once
// Wanted().wakeAt has passed. The socket changes at every connection: look at
// Wanted() again after every call into the client, or let interestChanged
// say when to. poll_loop.h is such a loop; a service's sd-event loop is
// another (an io source on the fd, a time source at wakeAt).
//
// The client connects, reconnects with a growing delay, re-makes its
// subscriptions on every connection and sets the will before each attempt.
// Callbacks run inside the calls into the client, on the loop's thread,
// after libmosquitto has returned: they may call the client.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "mqtt/broker_settings.h"

namespace tarvo_mqtt {

struct Message {
  std::string topic;
  std::string payload;
  bool retained = false;  // a copy the broker kept, sent because we subscribed
};

struct Will {
  std::string topic;
  std::string payload;
  bool retain = true;
};

struct ClientCallbacks {
  // Connected and the subscriptions asked again; publish what a new
  // connection must say (status, reported) here.
  std::function<void()> connected;
  // A connection ended or an attempt failed: the broker's or the system's
  // words ("connection refused", "not authorised", "a TLS error occurred
  // (... certificate verify failed)"). A retry is scheduled unless Stop was
  // called.
  std::function<void(const std::string& reason)> disconnected;
  std::function<void(const Message& message)> message;
  // Asked before each attempt: the last will for that connection (QoS 1).
  std::function<std::optional<Will>()> will;
  // The socket, its wanted events or the wake-up time may have changed.
  std::function<void()> interestChanged;
};

struct Interest {
  int fd = -1;         // -1: no socket now; only the timer
  bool write = false;  // watch for writing too
  // Grows with every connection attempt: a new socket may reuse the number
  // of the one before, and an epoll set forgets a closed one.
  uint64_t attempt = 0;
  std::chrono::steady_clock::time_point wakeAt = std::chrono::steady_clock::time_point::max();
};

class Client {
 public:
  // Throws std::invalid_argument for a bad URL, std::runtime_error for a
  // password file that cannot be read.
  Client(ClientSettings settings, ClientCallbacks callbacks);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // The first attempt; failures come back through `disconnected`.
  void Start();
  // Says goodbye to the broker (no will is sent) and stops retrying.
  void Stop();

  // Kept for every connection; asked now when connected.
  void Subscribe(const std::string& filter, int qos = 1);
  // False when the message could not be taken (not connected, too large).
  bool Publish(const std::string& topic, const std::string& payload, int qos, bool retain);

  bool Connected() const;
  // QoS 1 messages the broker has not acknowledged yet (kept across reconnects).
  int Unacknowledged() const;
  Interest Wanted() const;
  void OnReady(bool readable, bool writable);
  void OnTimer();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvo_mqtt

#pragma once
// Where the broker is and who we are to it: the settings that tarvo-fleet's
// options and an agent's [mqtt] section both give.

#include <chrono>
#include <string>
#include <string_view>

namespace tarvo_mqtt {

struct BrokerUrl {
  std::string host;
  int port = 1883;
  bool tls = false;
};

// "mqtt://host[:port]" (port 1883) or "mqtts://host[:port]" (TLS, port 8883);
// an IPv6 host in brackets. Throws std::invalid_argument saying what a URL is.
BrokerUrl ParseBrokerUrl(std::string_view url);

// The first line of the file, without its line end. Without a file:
// systemd's credential "mqtt-password" ($CREDENTIALS_DIRECTORY) when there is
// one, else "" (no password). Throws std::runtime_error for a file that cannot
// be read.
std::string ReadPassword(const std::string& file);

struct ClientSettings {
  std::string url;           // as ParseBrokerUrl takes it
  std::string clientId;      // empty: the library makes one up (clean sessions only)
  bool cleanSession = true;  // false: the broker keeps QoS 1 messages while we are away
  // A QoS 1 message is acknowledged to the broker only once the message
  // callback has returned, so a client that stores it there loses none when
  // killed (the broker sends it again); else as soon as it is read.
  bool acknowledgeAfterHandling = false;
  std::string username;      // empty: none
  std::string passwordFile;  // see ReadPassword
  std::string caFile;        // mqtts without one: the system's CAs
  std::string certFile;      // a client certificate, with keyFile
  std::string keyFile;
  int keepaliveS = 60;
  // An attempt that has no answer from the broker by then is given up.
  std::chrono::milliseconds connectTimeout{10000};
  // Retries wait from the first to the longest, doubling, each shortened by up
  // to a quarter at random so that many clients do not come back at once.
  std::chrono::milliseconds firstRetry{1000};
  std::chrono::milliseconds longestRetry{30000};
};

}  // namespace tarvo_mqtt

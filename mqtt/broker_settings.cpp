#include "mqtt/broker_settings.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace tarvo_mqtt {

BrokerUrl ParseBrokerUrl(std::string_view url) {
  const auto refuse = [url]() -> BrokerUrl {
    throw std::invalid_argument("broker \"" + std::string(url) +
                                "\" is not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]");
  };
  BrokerUrl broker;
  std::string_view rest = url;
  if (rest.substr(0, 8) == "mqtts://") {
    broker = {"", 8883, true};
    rest.remove_prefix(8);
  } else if (rest.substr(0, 7) == "mqtt://") {
    rest.remove_prefix(7);
  } else {
    return refuse();
  }
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  size_t hostEnd = 0;
  if (!rest.empty() && rest.front() == '[') {
    hostEnd = rest.find(']');
    if (hostEnd == std::string_view::npos) return refuse();
    broker.host = std::string(rest.substr(1, hostEnd - 1));
    ++hostEnd;
  } else {
    hostEnd = std::min(rest.find(':'), rest.size());
    broker.host = std::string(rest.substr(0, hostEnd));
  }
  rest.remove_prefix(hostEnd);
  if (broker.host.empty() || broker.host.find_first_of("/@?#") != std::string::npos)
    return refuse();
  if (!rest.empty()) {
    if (rest.front() != ':') return refuse();
    rest.remove_prefix(1);
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), broker.port);
    if (rest.empty() || error != std::errc() || end != rest.data() + rest.size() ||
        broker.port < 1 || broker.port > 65535)
      return refuse();
  }
  return broker;
}

std::string ReadPassword(const std::string& file) {
  std::string path = file;
  if (path.empty()) {
    const char* credentials = std::getenv("CREDENTIALS_DIRECTORY");
    if (credentials == nullptr) return "";
    path = std::string(credentials) + "/mqtt-password";
    if (std::ifstream(path).fail()) return "";
  }
  std::ifstream in(path);
  std::string password;
  if (!in || (!std::getline(in, password) && !in.eof()))
    throw std::runtime_error("cannot read the password file " + path + ": " + std::strerror(errno));
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return password;
}

}  // namespace tarvo_mqtt

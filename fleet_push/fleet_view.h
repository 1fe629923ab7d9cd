#pragma once
// What the head office knows of each station from its retained documents and
// what comes after them. A status of an older session never replaces a newer
// one, so a late will cannot make an online station look lost.

#include <map>
#include <optional>
#include <string>

#include "mqtt/client.h"
#include "mqtt/documents.h"

namespace tarvo_fleet {

struct StationView {
  std::optional<tarvo_mqtt::Status> status;
  std::optional<tarvo_mqtt::Desired> desired;
  std::optional<tarvo_mqtt::Reported> reported;
  std::string problem;  // why the last document of the station was refused

  // Seen: the station itself has said something (status or reported).
  bool Seen() const { return status || reported; }
  // The head office's plan that the station has not taken yet.
  bool Lagging() const;
};

class FleetView {
 public:
  // Takes a message of the fleet's topics; others are left alone.
  void Take(const tarvo_mqtt::Message& message);
  const std::map<std::string, StationView>& Stations() const { return stations_; }
  const StationView* Find(const std::string& station) const;

 private:
  std::map<std::string, StationView> stations_;
};

}  // namespace tarvo_fleet

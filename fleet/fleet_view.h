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
  // The head office's revision that the station has not applied yet.
  bool Lagging() const;
  // The revision the next change must carry: above every one known.
  int64_t NextRev() const;
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

enum class Outcome { kConfirmed, kWaiting, kNotConfirmed, kOffline };

struct Verdict {
  Outcome outcome = Outcome::kWaiting;
  std::string detail;  // "rev 5 verified", "superseded by rev 7", "port-held (applied rev 4)"
};

// Where a station stands on the pushed revision `rev` of change `changeId`:
// confirmed once it reports that change verified (or scheduled, for a change
// with a time), not confirmed once another change took its revision or a
// newer one; else waiting. `final` gives the answer at the timeout instead of
// waiting: offline or not confirmed, and why.
Verdict Judge(const StationView& station, int64_t rev, const std::string& changeId, bool scheduled,
              bool final);

}  // namespace tarvo_fleet

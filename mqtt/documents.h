#pragma once
// The fleet's JSON documents, one per topic kind (see topics.h). Each is read
// strictly: every key present, no other key, each value of its type and
// range; a document that is not so is refused with DocumentError saying why.
// Panels are the objects that `tarvo-cli read --json` prints.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "station/panel_request.h"
#include "station/rfc3339.h"

namespace tarvo_mqtt {

using station::WallTime;

// "desired: \"rev\" must be a whole number 1.."
class DocumentError : public std::runtime_error {
 public:
  explicit DocumentError(const std::string& message) : std::runtime_error(message) {}
};

// The highest revision a document may carry: every JSON reader takes it
// exactly, and a push can always number the next one.
inline constexpr int64_t kHighestRev = (int64_t{1} << 53) - 1;

// A change of the head office's plan that waits for its time.
struct ScheduledEntry {
  std::string changeId;
  std::string issuer;
  WallTime effectiveAt;
  std::vector<station::PanelRequest> panels;
  std::optional<std::string> brightness;  // "auto" or "0".."9"; none: untouched
  bool operator==(const ScheduledEntry&) const = default;
};

// Head office -> station: the head office's whole plan for the sign. What it
// wants now (every panel it has ever set, and the brightness) and its
// changes still to come. A station takes a plan only when `rev` is above the
// last it took; a panel left out, or a null grade or inscription, keeps the
// sign's value.
struct Desired {
  int64_t rev = 0;  // 1..kHighestRev
  std::string changeId;  // the change that made this revision of the plan
  std::string issuer;
  std::vector<station::PanelRequest> panels;
  std::optional<std::string> brightness;  // "auto" or "0".."9"; none: untouched
  std::vector<ScheduledEntry> scheduled;  // in the order of their times
  bool operator==(const Desired&) const = default;
};

enum class StationState { kVerified, kApplying, kScheduled, kUnverified, kPortLost, kPortHeld };

// "verified", "applying", "scheduled", "unverified", "port-lost", "port-held".
std::string_view StateName(StationState state);

// A head-office revision that waits for its time.
struct PendingRevision {
  int64_t rev = 0;
  std::string changeId;
  WallTime effectiveAt;
  bool operator==(const PendingRevision&) const = default;
};

// A change made at the station on top of the head office's revision.
struct LocalOverride {
  std::string changeId;
  std::string issuer;  // the local user
  WallTime at;
  std::vector<int> panels;  // the addresses it wrote
  bool operator==(const LocalOverride&) const = default;
};

// The last fresh read-back of the sign against what it should hold.
struct Verification {
  WallTime at;
  bool ok = false;  // false: a panel differed, or the sign did not answer
  bool operator==(const Verification&) const = default;
};

// A plan the station did not take: "stale" (below the revision it holds) or
// "conflict" (its revision, but another change).
struct RefusedPlan {
  int64_t rev = 0;
  std::string changeId;
  std::string reason;
  bool operator==(const RefusedPlan&) const = default;
};

// Station -> all: where the sign stands against the head office's plan.
struct Reported {
  std::optional<int64_t> rev;  // the head office's plan taken; none before the first
  std::optional<std::string> changeId;
  StationState state = StationState::kUnverified;
  std::vector<station::PanelRequest> panels;  // the last read-back (panels that answered)
  std::optional<Verification> lastVerification;
  std::optional<WallTime> verifiedAt;  // since when the sign holds the plan, checked
  int64_t driftCount = 0;
  std::vector<PendingRevision> pending;
  std::optional<LocalOverride> localOverride;
  std::optional<RefusedPlan> refused;  // the last plan not taken, until one is
  std::string version;
  std::string bootId;
  bool operator==(const Reported&) const = default;
};

// Retained: "online" at each connection, "lost" as the last will. `session`
// grows with every connection, so a late will never hides a newer "online".
struct Status {
  bool online = false;
  int64_t session = 0;  // 1..
  bool operator==(const Status&) const = default;
};

// One entry of the station's history. `seq` is its number in the station's
// history, the same at every sending: a head office drops doubles by it.
struct Event {
  std::string bootId;
  int64_t seq = 0;
  WallTime at;
  std::string kind;  // lowercase words joined by "-": "drift-found"
  std::string text;
  std::optional<int64_t> rev;  // the revision it concerns, if any
  bool operator==(const Event&) const = default;
};

Desired ParseDesired(std::string_view payload);
Reported ParseReported(std::string_view payload);
Status ParseStatus(std::string_view payload);
Event ParseEvent(std::string_view payload);

// One JSON text on one line; what they give, Parse* takes back unchanged.
std::string Serialise(const Desired& document);
std::string Serialise(const Reported& document);
std::string Serialise(const Status& document);
std::string Serialise(const Event& document);

// A session number above `last` that also grows across restarts that lost
// `last`: the wall clock's milliseconds, or last + 1 when the clock is behind.
int64_t NextSession(int64_t last);

}  // namespace tarvo_mqtt

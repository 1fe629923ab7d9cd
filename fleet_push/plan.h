#pragma once
// The head office's plan for one station (its desired document) and how a
// change enters it: the plan is read from the broker, the change merged in,
// and the whole plan published again under the next revision.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fleet_push/fleet_view.h"
#include "mqtt/documents.h"

namespace tarvo_fleet {

// What one push asks of every station it names: fields to set, now or at a
// time, or (`cancels`) the withdrawal of a scheduled entry before its time.
struct PlanChange {
  std::string changeId;
  std::string issuer;
  std::vector<station::PanelRequest> panels;
  std::optional<std::string> brightness;
  std::optional<tarvo_mqtt::WallTime> effectiveAt;  // none: now
  std::optional<std::string> cancels;  // the change id of the entry withdrawn
};

// `plan` (none: the station has none yet) with `change` in it, as revision
// `rev`: entries whose time has passed by `now` first join what the plan
// wants now, in their order; then a change for now sets its fields over the
// plan's, a scheduled one joins the entries in the order of their times, a
// cancel takes its entry out.
tarvo_mqtt::Desired Merge(const std::optional<tarvo_mqtt::Desired>& plan, const PlanChange& change,
                          int64_t rev, tarvo_mqtt::WallTime now);

// Whether `plan` still carries `change`: its entry, or (for now, or once its
// time has passed) every field it set; for a cancel, no entry it withdraws.
bool Carries(const tarvo_mqtt::Desired& plan, const PlanChange& change, tarvo_mqtt::WallTime now);

// The entry of `plan` with this change id that is still to come at `now`.
const tarvo_mqtt::ScheduledEntry* ScheduledEntryOf(const tarvo_mqtt::Desired& plan,
                                                   const std::string& changeId,
                                                   tarvo_mqtt::WallTime now);

// Whether the read-back shows every field the plan wants now.
bool Shows(const std::vector<station::PanelRequest>& readback,
           const std::vector<station::PanelRequest>& wanted);

// The revision of the station's next plan: above every revision seen in its
// desired and reported documents, and at least the wall clock's milliseconds,
// so that a broker which lost its retained documents cannot make a push use
// one again. Nothing once no revision up to kHighestRev is left.
std::optional<int64_t> NextRev(const StationView& station, tarvo_mqtt::WallTime now);

}  // namespace tarvo_fleet

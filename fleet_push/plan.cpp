#include "fleet_push/plan.h"

#include <algorithm>

namespace tarvo_fleet {

namespace {

using namespace tarvo_mqtt;
using station::PanelRequest;

// The fields `over` gives, over `base`'s.
void SetOver(std::vector<PanelRequest>& base, const std::vector<PanelRequest>& over) {
  for (const PanelRequest& panel : over) {
    auto held = std::find_if(base.begin(), base.end(),
                             [&](const PanelRequest& p) { return p.address == panel.address; });
    if (held == base.end()) {
      base.push_back(panel);
      continue;
    }
    if (panel.price) held->price = panel.price;
    if (panel.grade) held->grade = panel.grade;
    if (panel.inscription) held->inscription = panel.inscription;
  }
  std::sort(base.begin(), base.end(),
            [](const PanelRequest& a, const PanelRequest& b) { return a.address < b.address; });
}

}  // namespace

bool Shows(const std::vector<PanelRequest>& readback, const std::vector<PanelRequest>& wanted) {
  return std::all_of(wanted.begin(), wanted.end(), [&](const PanelRequest& want) {
    const auto seen = std::find_if(readback.begin(), readback.end(),
                                   [&](const PanelRequest& p) { return p.address == want.address; });
    if (seen == readback.end()) return false;
    return (!want.price || want.price == seen->price) &&
           (!want.grade || want.grade == seen->grade) &&
           (!want.inscription || want.inscription == seen->inscription);
  });
}

Desired Merge(const std::optional<Desired>& plan, const PlanChange& change, int64_t rev,
              WallTime now) {
  Desired merged = plan.value_or(Desired{});
  merged.rev = rev;
  merged.changeId = change.changeId;
  merged.issuer = change.issuer;
  const auto due = std::partition_point(merged.scheduled.begin(), merged.scheduled.end(),
                                        [now](const ScheduledEntry& e) { return e.effectiveAt <= now; });
  for (auto entry = merged.scheduled.begin(); entry != due; ++entry) {
    SetOver(merged.panels, entry->panels);
    if (entry->brightness) merged.brightness = entry->brightness;
  }
  merged.scheduled.erase(merged.scheduled.begin(), due);
  if (change.cancels) {
    std::erase_if(merged.scheduled, [&](const ScheduledEntry& e) { return e.changeId == *change.cancels; });
    return merged;
  }
  if (!change.effectiveAt || *change.effectiveAt <= now) {
    SetOver(merged.panels, change.panels);
    if (change.brightness) merged.brightness = change.brightness;
    return merged;
  }
  ScheduledEntry entry{change.changeId, change.issuer, *change.effectiveAt, change.panels,
                       change.brightness};
  const auto later = std::upper_bound(
      merged.scheduled.begin(), merged.scheduled.end(), entry.effectiveAt,
      [](WallTime at, const ScheduledEntry& e) { return at < e.effectiveAt; });
  merged.scheduled.insert(later, std::move(entry));
  return merged;
}

const ScheduledEntry* ScheduledEntryOf(const Desired& plan, const std::string& changeId, WallTime now) {
  const auto entry = std::find_if(plan.scheduled.begin(), plan.scheduled.end(),
                                  [&](const ScheduledEntry& e) { return e.changeId == changeId; });
  return entry == plan.scheduled.end() || entry->effectiveAt <= now ? nullptr : &*entry;
}

bool Carries(const Desired& plan, const PlanChange& change, WallTime now) {
  if (change.cancels)
    return std::none_of(plan.scheduled.begin(), plan.scheduled.end(),
                        [&](const ScheduledEntry& e) { return e.changeId == *change.cancels; });
  const bool entry = std::any_of(plan.scheduled.begin(), plan.scheduled.end(),
                                 [&](const ScheduledEntry& e) { return e.changeId == change.changeId; });
  if (entry) return true;
  if (change.effectiveAt && *change.effectiveAt > now) return false;
  return Shows(plan.panels, change.panels) &&
         (!change.brightness || plan.brightness == change.brightness);
}

std::optional<int64_t> NextRev(const StationView& station, WallTime now) {
  int64_t highest = station.desired ? station.desired->rev : 0;
  if (station.reported) {
    highest = std::max(highest, station.reported->rev.value_or(0));
    for (const PendingRevision& pending : station.reported->pending)
      highest = std::max(highest, pending.rev);
    if (station.reported->refused) highest = std::max(highest, station.reported->refused->rev);
  }
  if (highest >= kHighestRev) return std::nullopt;
  const int64_t clock =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  return std::min(kHighestRev, std::max(highest + 1, clock));
}

}  // namespace tarvo_fleet

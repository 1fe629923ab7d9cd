#include "fleet_push/push_operation.h"

#include <algorithm>

#include "fleet_push/failure.h"
#include "mqtt/topics.h"

namespace tarvo_fleet {

namespace {

using namespace tarvo_mqtt;

// Times a push merges its change again into a plan that another push
// published over it, before it gives up.
constexpr int kRetries = 3;

std::string Rev(int64_t rev) { return "office rev " + std::to_string(rev); }

std::string Held(const Reported& reported) {
  return reported.rev ? "it holds " + Rev(*reported.rev) : "it holds no office rev";
}

// The panels of `local` among those the plan sets, as "4, 12".
std::string Overridden(const LocalOverride& local, const std::vector<station::PanelRequest>& plan) {
  std::string list;
  for (const int address : local.panels)
    if (std::any_of(plan.begin(), plan.end(), [&](auto& p) { return p.address == address; }))
      list += (list.empty() ? "" : ", ") + std::to_string(address);
  return list;
}

// Whether `later`, made from `base` by another push, changed a field that
// `change` changes too.
bool Overlaps(const std::optional<Desired>& base, const Desired& later, const PlanChange& change) {
  const std::vector<station::PanelRequest> none;
  const auto& before = base ? base->panels : none;
  const auto field = [](const std::vector<station::PanelRequest>& panels, uint8_t address) {
    const auto found = std::find_if(panels.begin(), panels.end(),
                                    [&](auto& p) { return p.address == address; });
    return found == panels.end() ? station::PanelRequest{address, {}, {}, {}} : *found;
  };
  for (const station::PanelRequest& ours : change.panels) {
    const station::PanelRequest was = field(before, ours.address);
    const station::PanelRequest now = field(later.panels, ours.address);
    if ((ours.price && was.price != now.price) || (ours.grade && was.grade != now.grade) ||
        (ours.inscription && was.inscription != now.inscription))
      return true;
  }
  return change.brightness && (base ? base->brightness : std::nullopt) != later.brightness;
}

}  // namespace

std::string_view OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kWaiting:
      return "waiting";
    case Outcome::kConfirmed:
      return "confirmed";
    case Outcome::kNotConfirmed:
      return "not confirmed";
    case Outcome::kOffline:
      return "offline";
  }
  return "";
}

PushOperation::PushOperation(FleetView view, std::vector<std::string> stations, PlanChange change,
                             WallTime now, PushCallbacks callbacks)
    : view_(std::move(view)), change_(std::move(change)), callbacks_(std::move(callbacks)) {
  for (const std::string& id : stations) {
    const StationView* known = view_.Find(id);
    const StationView station = known ? *known : StationView{};
    const std::optional<int64_t> rev = NextRev(station, now);
    if (!rev)
      throw FleetFailure(ExitStatus::kBadInput,
                         id + ": no office rev is left above " + std::to_string(kHighestRev) +
                             " (a document carried the highest there is)");
    outcomes_.push_back({id, *rev, Outcome::kWaiting, ""});
    pending_.push_back({station.desired, Merge(station.desired, change_, *rev, now), false, 0, std::nullopt, ""});
    if (!change_.cancels) continue;
    const ScheduledEntry* entry =
        station.desired ? ScheduledEntryOf(*station.desired, *change_.cancels, now) : nullptr;
    if (entry) pending_.back().withdrawnAt = entry->effectiveAt;
    if (entry && !(station.reported && LeftThere(pending_.back(), *station.reported))) continue;
    outcomes_.back().outcome = Outcome::kNotConfirmed;
    outcomes_.back().detail =
        "change " + *change_.cancels +
        (entry ? " no longer waits at the station (it came due there, or was cancelled there)"
               : " is not scheduled in the station's plan (it took effect, or never came here)") +
        "; nothing was published";
  }
}

PushOperation::PushOperation(std::vector<StationOutcome> waiting, PlanChange change,
                             std::optional<WallTime> withdrawnAt, PushCallbacks callbacks)
    : change_(std::move(change)), callbacks_(std::move(callbacks)), outcomes_(std::move(waiting)) {
  for (const StationOutcome& outcome : outcomes_) {
    Pending& pending = pending_.emplace_back();
    pending.plan.rev = outcome.rev;
    pending.withdrawnAt = withdrawnAt;
    pending.known = false;
  }
}

// The station holds the plan the cancel was merged into, but not the entry:
// it came due there (a station's clock ahead of ours) or was cancelled there.
bool PushOperation::LeftThere(const Pending& pending, const Reported& reported) const {
  return pending.base && reported.rev == pending.base->rev &&
         reported.changeId == pending.base->changeId &&
         std::none_of(reported.pending.begin(), reported.pending.end(),
                      [&](auto& p) { return p.changeId == *change_.cancels; });
}

void PushOperation::Start() {
  for (size_t i = 0; i < outcomes_.size(); ++i)
    if (outcomes_[i].outcome == Outcome::kWaiting) Publish(i);
}

void PushOperation::Publish(size_t i) {
  const std::string& id = outcomes_[i].station;
  if (!callbacks_.publish(Topic(id, TopicKind::kDesired), Serialise(pending_[i].plan)))
    Settle(i, Outcome::kNotConfirmed, "the broker's link did not take " + Rev(outcomes_[i].rev));
}

void PushOperation::Take(const Message& message, WallTime now) {
  view_.Take(message);
  const std::optional<StationTopic> topic = ParseTopic(message.topic);
  if (!topic) return;
  const auto found = std::find_if(outcomes_.begin(), outcomes_.end(),
                                  [&](const StationOutcome& o) { return o.station == topic->station; });
  if (found == outcomes_.end() || found->outcome != Outcome::kWaiting) return;
  const size_t i = static_cast<size_t>(found - outcomes_.begin());
  Pending& pending = pending_[i];
  if (topic->kind == TopicKind::kReported) return Judge(i, now);
  if (topic->kind != TopicKind::kDesired) return;
  const StationView& station = *view_.Find(topic->station);
  if (!station.desired) {
    if (pending.echoed && message.payload.empty())
      Settle(i, Outcome::kNotConfirmed, "the station's plan was cleared meanwhile");
    return;
  }
  const Desired& plan = *station.desired;
  if (!pending.known) {
    // Resumed: the broker's plan is ours, one published over it since, or
    // one from before ours (the driver stopped before ours reached the
    // broker), which ours is merged into again.
    pending.known = pending.echoed = true;
    if (plan.rev > pending.plan.rev) return Replaced(i, plan, now);
    if (plan.rev == pending.plan.rev) {
      pending.plan = plan;
      return Judge(i, now);
    }
    const std::optional<int64_t> rev = NextRev(station, now);
    if (!rev) return Settle(i, Outcome::kNotConfirmed, "no office rev is left for the push");
    pending.base = plan;
    pending.plan = Merge(plan, change_, *rev, now);
    pending.echoed = false;
    found->rev = *rev;
    if (callbacks_.changed) callbacks_.changed(*found);
    return Publish(i);
  }
  if (plan.rev == pending.plan.rev && plan.changeId == pending.plan.changeId) {
    pending.echoed = true;
    return;
  }
  // A plan the broker had before ours came is one that ours replaced.
  if (pending.echoed) Replaced(i, plan, now);
}

// Another push published its plan over ours: ours stands if that plan
// carries our change; one that changed a field ours changes was the later
// word on it; else ours is merged into it and published again.
void PushOperation::Replaced(size_t i, const Desired& plan, WallTime now) {
  Pending& pending = pending_[i];
  StationOutcome& outcome = outcomes_[i];
  if (pending.withdrawnAt && now >= *pending.withdrawnAt)
    return Settle(i, Outcome::kNotConfirmed,
                  "too late: replaced by change " + plan.changeId + " (" + Rev(plan.rev) +
                      ") while change " + *change_.cancels + " came due at " +
                      station::Rfc3339Utc(*pending.withdrawnAt));
  if (Carries(plan, change_, now)) {
    pending.plan = plan;
    outcome.rev = plan.rev;
    if (callbacks_.changed) callbacks_.changed(outcome);
    return Judge(i, now);
  }
  const std::string by = "replaced by change " + plan.changeId + " (" + Rev(plan.rev) + ")";
  const std::optional<int64_t> rev = NextRev(*view_.Find(outcome.station), now);
  if (pending.retries == kRetries || !rev || Overlaps(pending.base, plan, change_))
    return Settle(i, Outcome::kNotConfirmed, by);
  ++pending.retries;
  pending.base = plan;
  pending.plan = Merge(plan, change_, *rev, now);
  pending.echoed = false;
  outcome.rev = *rev;
  if (callbacks_.changed) callbacks_.changed(outcome);
  Publish(i);
}

// Confirmed only on what the sign shows: the plan taken, the read-back
// equal to what it wants now and verified, no local change over its panels.
void PushOperation::Judge(size_t i, WallTime now) {
  const StationView* station = view_.Find(outcomes_[i].station);
  if (station == nullptr || !station->reported || !pending_[i].known) return;
  const Reported& reported = *station->reported;
  const Desired& plan = pending_[i].plan;
  const std::string rev = Rev(plan.rev);
  if (reported.refused && reported.refused->rev == plan.rev &&
      reported.refused->changeId == plan.changeId) {
    std::string refusal = "the station refused " + rev + " as " + reported.refused->reason + " (" +
                          Held(reported) + ")";
    // A conflict: another push numbered its plan as ours. It sees ours over
    // its own and merges itself into it under the next rev, which carries us;
    // only the deadline makes the refusal final.
    if (reported.refused->reason != "conflict") return Settle(i, Outcome::kNotConfirmed, refusal);
    pending_[i].refusal = std::move(refusal);
    return;
  }
  if (change_.cancels && LeftThere(pending_[i], reported))
    return Settle(i, Outcome::kNotConfirmed,
                  "too late: change " + *change_.cancels + " came due at the station before it took " + rev);
  if (reported.rev != plan.rev || reported.changeId != plan.changeId) return;
  if (change_.cancels) return JudgeCancel(i, reported, now);
  if (change_.effectiveAt) {
    const auto entry = std::find_if(reported.pending.begin(), reported.pending.end(),
                                    [&](auto& p) { return p.changeId == change_.changeId; });
    if (entry != reported.pending.end())
      return Settle(i, Outcome::kConfirmed,
                    rev + " scheduled for " + station::Rfc3339Utc(entry->effectiveAt));
  }
  if (reported.localOverride) {
    const std::string panels = Overridden(*reported.localOverride, plan.panels);
    if (!panels.empty())
      return Settle(i, Outcome::kNotConfirmed,
                    rev + " taken, but overridden at the station by " +
                        reported.localOverride->issuer + " (panels " + panels + ")");
  }
  const bool checked = reported.lastVerification && reported.lastVerification->ok;
  // "scheduled": verified, with entries of the plan still to come.
  const bool settled =
      reported.state == StationState::kVerified || reported.state == StationState::kScheduled;
  if (settled && checked && Shows(reported.panels, plan.panels))
    Settle(i, Outcome::kConfirmed, rev + " verified");
}

// A withdrawal is confirmed once the station took the plan without the entry
// before the entry's time: after it, the sign may have shown the change.
void PushOperation::JudgeCancel(size_t i, const Reported& reported, WallTime now) {
  const std::string& cancelled = *change_.cancels;
  if (std::any_of(reported.pending.begin(), reported.pending.end(),
                  [&](auto& p) { return p.changeId == cancelled; }))
    return;
  const std::string at = station::Rfc3339Utc(*pending_[i].withdrawnAt);
  const std::string rev = Rev(pending_[i].plan.rev);
  if (now >= *pending_[i].withdrawnAt)
    return Settle(i, Outcome::kNotConfirmed,
                  "too late: the station took " + rev + " after change " + cancelled +
                      " came due at " + at + "; the sign may have shown it");
  Settle(i, Outcome::kConfirmed, rev + ": change " + cancelled + " withdrawn before " + at);
}

void PushOperation::Expire() {
  for (size_t i = 0; i < outcomes_.size(); ++i) {
    if (outcomes_[i].outcome != Outcome::kWaiting) continue;
    const StationView* station = view_.Find(outcomes_[i].station);
    const std::string rev = Rev(pending_[i].plan.rev);
    if (!pending_[i].refusal.empty()) {
      Settle(i, Outcome::kNotConfirmed, pending_[i].refusal);
    } else if (station == nullptr || !station->status || !station->status->online) {
      Settle(i, Outcome::kOffline, rev + " waits on the broker until the station connects");
    } else if (!station->reported) {
      Settle(i, Outcome::kNotConfirmed, "the station has reported nothing");
    } else {
      const Reported& reported = *station->reported;
      const bool taken = reported.rev == pending_[i].plan.rev;
      Settle(i, Outcome::kNotConfirmed,
             std::string(StateName(reported.state)) + " (" +
                 (taken ? rev + " taken, the sign does not show it verified" : Held(reported)) +
                 ")");
    }
  }
}

bool PushOperation::Done() const {
  return std::none_of(outcomes_.begin(), outcomes_.end(),
                      [](const StationOutcome& o) { return o.outcome == Outcome::kWaiting; });
}

void PushOperation::Settle(size_t i, Outcome outcome, std::string detail) {
  outcomes_[i].outcome = outcome;
  outcomes_[i].detail = std::move(detail);
  if (callbacks_.changed) callbacks_.changed(outcomes_[i]);
}

}  // namespace tarvo_fleet

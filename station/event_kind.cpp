#include "station/event_kind.h"

#include <algorithm>
#include <array>
#include <utility>

namespace station {

namespace {

constexpr std::array<std::pair<EventKind, std::string_view>, 24> kNames = {{
    {EventKind::kAgentStarted, "agent started"},
    {EventKind::kAgentStopped, "agent stopped"},
    {EventKind::kChangeAccepted, "change accepted"},
    {EventKind::kChangeScheduled, "change scheduled"},
    {EventKind::kChangeDue, "change due"},
    {EventKind::kChangeSkipped, "change skipped"},
    {EventKind::kChangeCancelled, "change cancelled"},
    {EventKind::kChangeVerified, "change verified"},
    {EventKind::kChangeSuperseded, "change superseded"},
    {EventKind::kApplied, "applied"},
    {EventKind::kVerificationOk, "verification ok"},
    {EventKind::kDriftFound, "drift found"},
    {EventKind::kDriftHealed, "drift healed"},
    {EventKind::kVerificationFailed, "verification failed"},
    {EventKind::kPortHeld, "port held"},
    {EventKind::kPortLost, "port lost"},
    {EventKind::kPortFailed, "port failed"},
    {EventKind::kPortBack, "port back"},
    {EventKind::kSignSilent, "sign silent"},
    {EventKind::kClockChanged, "clock changed"},
    {EventKind::kDesiredRejected, "desired rejected"},
    {EventKind::kDesiredStale, "desired stale"},
    {EventKind::kDesiredConflict, "desired conflict"},
    {EventKind::kHistoryPruned, "history pruned"},
}};

}  // namespace

std::string_view EventKindName(EventKind kind) {
  const auto found = std::find_if(kNames.begin(), kNames.end(), [kind](const auto& entry) { return entry.first == kind; });
  return found->second;
}

std::optional<EventKind> EventKindFromName(std::string_view name) {
  const auto found = std::find_if(kNames.begin(), kNames.end(), [name](const auto& entry) { return entry.second == name; });
  if (found == kNames.end()) return std::nullopt;
  return found->first;
}

std::string EventKindTopicName(EventKind kind) {
  std::string name(EventKindName(kind));
  std::replace(name.begin(), name.end(), ' ', '-');
  return name;
}

}  // namespace station

#pragma once
// The kinds of event in the agent's history, one list: the history's names,
// the fleet's topic names and tarvo-cli's texts all come from it.

#include <optional>
#include <string>
#include <string_view>

namespace station {

enum class EventKind {
  kAgentStarted,
  kAgentStopped,
  kChangeAccepted,   // took effect at once
  kChangeScheduled,  // waits for its time
  kChangeDue,        // its time came: it took effect
  kChangeSkipped,    // came due together with a later one that shows through it
  kChangeCancelled,
  kChangeVerified,    // read back from the sign as it asked
  kChangeSuperseded,  // a later change took its panels before it was verified
  kApplied,           // a session wrote the sign for a new state revision
  kVerificationOk,
  kDriftFound,
  kDriftHealed,
  kVerificationFailed,
  kPortHeld,
  kPortLost,
  kPortFailed,
  kPortBack,
  kSignSilent,
  kClockChanged,
  kDesiredRejected,  // a head office's document the agent could not take
  kDesiredStale,     // a head office's plan below the one taken
  kDesiredConflict,  // a head office's plan of the taken office rev, with another change
};

// "change accepted", as the history names it.
std::string_view EventKindName(EventKind kind);
std::optional<EventKind> EventKindFromName(std::string_view name);
// "change-accepted", as the fleet's events topic names it.
std::string EventKindTopicName(EventKind kind);

}  // namespace station

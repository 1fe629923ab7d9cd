#pragma once
// Which of the agent's changes came from the head office: the head office's
// plan taken last, the change of it applied, its entries held scheduled, a
// local change on top of them (an override until the head office's next
// change), and the last plan refused. Kept in the agent's database as one
// named value, written inside the core's own transactions.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace agent {

struct HeadOfficeRevision {
  int64_t rev = 0;  // the office rev of the plan that brought it
  std::string changeId;  // the head office's change (the plan's, or its entry's)
  int64_t agentRev = 0;  // the agent's own change that carries it
  std::string agentId;
  std::optional<int64_t> effectiveAt;  // ms since the epoch; none: now
};

struct LocalOverride {
  std::string changeId;  // the agent's change id
  std::string issuer;
  int64_t at = 0;
  std::vector<int> panels;  // the addresses it wrote
};

// A plan not taken: "stale" (below the one held) or "conflict" (the same
// office rev, another change).
struct RefusedPlan {
  int64_t rev = 0;
  std::string changeId;
  std::string reason;
};

struct HeadOfficeRevisions {
  nlohmann::json plan;  // the desired document taken last, as it came; null before the first
  std::optional<HeadOfficeRevision> applied;
  std::vector<HeadOfficeRevision> pending;  // in the order they came
  std::optional<LocalOverride> localOverride;
  std::optional<RefusedPlan> refused;

  // The office rev of the plan taken last: the next must be above it.
  int64_t Highest() const;
  std::string PlanChangeId() const;
  // The head-office revision that the agent's change agentRev carries.
  std::optional<int64_t> HeadOfficeRev(int64_t agentRev) const;
  // The agent's change agentRev took effect (now or at its time): a pending
  // head-office revision becomes the applied one, any other is an override.
  void TookEffect(int64_t agentRev, const LocalOverride& ifLocal);
  // A pending change no longer waits (cancelled, or skipped by a later one).
  void Dropped(int64_t agentRev);

  nlohmann::json ToJson() const;
  static HeadOfficeRevisions FromJson(const nlohmann::json& document);
};

}  // namespace agent

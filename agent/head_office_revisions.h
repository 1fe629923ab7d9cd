#pragma once
// Which of the agent's changes came from the head office: the head-office
// revision applied, those held scheduled, and a local change on top of them
// (an override until the head office's next revision). Kept in the agent's
// database as one named value, written inside the core's own transactions.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace agent {

struct HeadOfficeRevision {
  int64_t rev = 0;  // the head office's number
  std::string changeId;
  int64_t agentRev = 0;  // the agent's own change that carries it
  std::string agentId;
  std::optional<int64_t> effectiveAt;  // ms since the epoch; none: now
};

struct LocalOverride {
  std::string changeId;  // the agent's change id
  std::string issuer;
  int64_t at = 0;
};

struct HeadOfficeRevisions {
  std::optional<HeadOfficeRevision> applied;
  std::vector<HeadOfficeRevision> pending;  // in the order they came
  std::optional<LocalOverride> localOverride;

  // The last revision applied or held scheduled: a document must be above it.
  int64_t Highest() const;
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

#pragma once
// The sign as the agent wants it: per panel the fields that some change named
// (a field no change named yet is the sign's own, until the first read-back
// fills it in), and the brightness when a change set it. Also the JSON the
// database keeps of it and of the panels a read found.

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "agent/change.h"
#include "protocol/sign_link.h"
#include "station/panel_request.h"

namespace agent {

// What a read found: a record per panel, nothing for a panel without a proper reply.
using Readback = std::map<uint8_t, std::optional<sign_link::PanelRecord>>;

struct DesiredState {
  std::map<uint8_t, station::PanelRequest> panels;
  std::optional<std::string> brightness;

  bool Empty() const { return panels.empty() && !brightness; }
  // Some field still waits for the read-back.
  bool Open() const;
  // The change's fields over these.
  void Apply(const ChangeRequest& change);
  // Fields still open taken from what the sign showed; true when any was.
  bool FillFrom(const Readback& readback);
  // What the panel should hold given what the sign holds; nothing when it is
  // not wanted, or cannot be told without a read-back.
  std::optional<sign_link::PanelRecord> Target(uint8_t address, const Readback& readback) const;
};

nlohmann::json RequestsJson(const std::vector<station::PanelRequest>& requests);
std::vector<station::PanelRequest> RequestsFromJson(const nlohmann::json& list);
nlohmann::json DesiredJson(const DesiredState& state);
DesiredState DesiredFromJson(const nlohmann::json& document);
// A panel without a proper reply has null fields.
nlohmann::json ReadbackJson(const Readback& readback);
Readback ReadbackFromJson(const nlohmann::json& list);

}  // namespace agent

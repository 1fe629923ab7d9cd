#include <algorithm>
#include <array>

#include "mqtt/document_fields.h"
#include "mqtt/documents.h"
#include "station/panel_json.h"

namespace tarvo_mqtt {

namespace {

using nlohmann::json;

constexpr std::array kStates = {StationState::kVerified,  StationState::kApplying,
                                StationState::kScheduled, StationState::kUnverified,
                                StationState::kPortLost,  StationState::kPortHeld};

StationState State(Fields& fields) {
  const json& value = fields.Value("state");
  const auto state = std::find_if(kStates.begin(), kStates.end(), [&value](StationState s) {
    return value.is_string() && value.get<std::string>() == StateName(s);
  });
  if (state == kStates.end())
    fields.Refuse(
        "\"state\" must be verified, applying, scheduled, unverified, port-lost or port-held");
  return *state;
}

// A list of objects, each read strictly by `read` under "<document>.<key>[i]".
template <typename Item, typename Read>
std::vector<Item> List(Fields& fields, const char* key, Read read) {
  const json& list = fields.Value(key);
  if (!list.is_array()) fields.Refuse(std::string("\"") + key + "\" must be a list");
  std::vector<Item> items;
  for (size_t i = 0; i < list.size(); ++i) {
    Fields item(list[i], fields.Document() + "." + key + "[" + std::to_string(i) + "]");
    items.push_back(read(item));
    item.Finish();
  }
  return items;
}

std::optional<LocalOverride> Override(Fields& fields) {
  const json& value = fields.Value("override");
  if (value.is_null()) return std::nullopt;
  Fields item(value, fields.Document() + ".override");
  LocalOverride local{item.Text("change_id"), item.Text("issuer"), item.Time("at"), {}};
  const json& panels = item.Value("panels");
  const bool addresses = panels.is_array() && std::all_of(panels.begin(), panels.end(), [](auto& a) {
    return a.is_number_integer() && station::IsPanelAddress(a.template get<int>());
  });
  if (!addresses) item.Refuse("\"panels\" must be a list of panel addresses");
  local.panels = panels.get<std::vector<int>>();
  item.Finish();
  return local;
}

std::optional<Verification> LastVerification(Fields& fields) {
  const json& value = fields.Value("last_verification");
  if (value.is_null()) return std::nullopt;
  Fields item(value, fields.Document() + ".last_verification");
  Verification verification{item.Time("at")};
  const json& ok = item.Value("ok");
  if (!ok.is_boolean()) item.Refuse("\"ok\" must be true or false");
  verification.ok = ok.get<bool>();
  item.Finish();
  return verification;
}

std::optional<RefusedPlan> Refused(Fields& fields) {
  const json& value = fields.Value("refused");
  if (value.is_null()) return std::nullopt;
  Fields item(value, fields.Document() + ".refused");
  RefusedPlan refused{item.Integer("rev", 1), item.Text("change_id"), item.Text("reason")};
  if (refused.reason != "stale" && refused.reason != "conflict")
    item.Refuse("\"reason\" must be stale or conflict");
  item.Finish();
  return refused;
}

}  // namespace

std::string_view StateName(StationState state) {
  switch (state) {
    case StationState::kVerified:
      return "verified";
    case StationState::kApplying:
      return "applying";
    case StationState::kScheduled:
      return "scheduled";
    case StationState::kUnverified:
      return "unverified";
    case StationState::kPortLost:
      return "port-lost";
    case StationState::kPortHeld:
      return "port-held";
  }
  return "";
}

Reported ParseReported(std::string_view payload) {
  Fields fields(payload, "reported");
  Reported document;
  document.rev = fields.OptionalInteger("rev", 1);
  document.changeId = fields.OptionalText("change_id");
  document.state = State(fields);
  document.panels = fields.Panels("panels");
  document.lastVerification = LastVerification(fields);
  document.verifiedAt = fields.OptionalTime("verified_at");
  document.driftCount = fields.Integer("drift_count", 0);
  document.pending = List<PendingRevision>(fields, "pending", [](Fields& item) {
    return PendingRevision{item.Integer("rev", 1), item.Text("change_id"),
                           item.Time("effective_at")};
  });
  document.localOverride = Override(fields);
  document.refused = Refused(fields);
  document.version = fields.Text("version");
  document.bootId = fields.Text("boot_id");
  fields.Finish();
  return document;
}

std::string Serialise(const Reported& document) {
  json pending = json::array();
  for (const PendingRevision& revision : document.pending)
    pending.push_back({{"rev", revision.rev},
                       {"change_id", revision.changeId},
                       {"effective_at", TimeJson(revision.effectiveAt)}});
  json local;
  if (document.localOverride)
    local = {{"change_id", document.localOverride->changeId},
             {"issuer", document.localOverride->issuer},
             {"at", TimeJson(document.localOverride->at)},
             {"panels", document.localOverride->panels}};
  json verification;
  if (document.lastVerification)
    verification = {{"at", TimeJson(document.lastVerification->at)},
                    {"ok", document.lastVerification->ok}};
  json refused;
  if (document.refused)
    refused = {{"rev", document.refused->rev},
               {"change_id", document.refused->changeId},
               {"reason", document.refused->reason}};
  return station::Dump({{"rev", document.rev ? json(*document.rev) : json()},
                        {"change_id", document.changeId ? json(*document.changeId) : json()},
                        {"state", StateName(document.state)},
                        {"panels", PanelsJson(document.panels)},
                        {"last_verification", verification},
                        {"verified_at", TimeJson(document.verifiedAt)},
                        {"drift_count", document.driftCount},
                        {"pending", pending},
                        {"override", local},
                        {"refused", refused},
                        {"version", document.version},
                        {"boot_id", document.bootId}});
}

}  // namespace tarvo_mqtt

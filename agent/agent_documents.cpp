#include "agent/agent_documents.h"

#include <algorithm>

#include "station/panel_json.h"
#include "station/utc_instant.h"

namespace agent {

namespace {

using nlohmann::json;

json Instant(const std::optional<int64_t>& ms) {
  return ms ? json(station::FormatInstant(*ms)) : json();
}

json RecordJson(uint8_t address, const std::optional<sign_link::PanelRecord>& record) {
  return station::PanelJson(address, record);
}

}  // namespace

json ChangeJson(const Change& change) {
  json panels = json::array();
  for (const station::PanelRequest& r : change.request.panels) {
    panels.push_back({{"address", r.address},
                      {"row", station::EntryRowOf(r.address)},
                      {"half", station::HalfOf(r.address)},
                      {"price", r.price ? json(sign_link::PriceText(*r.price)) : json()},
                      {"grade", r.grade ? json(station::GradeName(*r.grade).value_or("?")) : json()},
                      {"inscription", r.inscription ? json(station::InscriptionBits(*r.inscription)) : json()}});
  }
  json document = {{"id", change.id},
                   {"rev", change.rev},
                   {"issuer", change.request.issuer},
                   {"requested_at", Instant(change.requestedAt)},
                   {"effective_at", Instant(change.request.effectiveAt)},
                   {"state", StateName(change.state)},
                   {"panels", panels},
                   {"brightness", change.request.brightness ? json(*change.request.brightness) : json()}};
  if (change.request.sourceRev) document["source_rev"] = *change.request.sourceRev;
  return document;
}

json PanelOutcomesJson(const ChangeRequest& change, const SignJobResult& result,
                       const DesiredState& desired, const Readback& readback) {
  json list = json::array();
  for (const station::PanelRequest& request : change.panels) {
    const uint8_t address = request.address;
    const auto outcome = std::find_if(result.panels.begin(), result.panels.end(),
                                      [address](const PanelOutcome& p) { return p.address == address; });
    json entry = {{"address", address}, {"row", station::EntryRowOf(address)}, {"half", station::HalfOf(address)}};
    if (outcome != result.panels.end()) {
      entry["asked"] = outcome->wanted ? RecordJson(address, outcome->wanted) : json();
      entry["sent"] = outcome->sent;
      entry["acknowledged"] = outcome->acknowledged;
      entry["verified"] = outcome->verified;
      entry["after"] = outcome->sent ? RecordJson(address, outcome->after) : json();
      if (!outcome->skipped.empty()) entry["skipped"] = outcome->skipped;
    } else {
      const auto wanted = desired.Target(address, readback);
      const auto shown = readback.find(address);
      const bool holds = wanted && shown != readback.end() && shown->second == wanted;
      entry["asked"] = wanted ? RecordJson(address, wanted) : json();
      entry["sent"] = false;
      entry["acknowledged"] = false;
      entry["verified"] = holds && !result.Failed();
      entry["after"] = shown != readback.end() ? RecordJson(address, shown->second) : json();
      if (holds) entry["skipped"] = "the sign holds it already";
    }
    list.push_back(entry);
  }
  return list;
}

json DriftJson(const SignJobResult& result) {
  json list = json::array();
  for (const PanelOutcome& p : result.panels) {
    list.push_back({{"address", p.address},
                    {"wanted", p.wanted ? RecordJson(p.address, p.wanted) : json()},
                    {"shown", RecordJson(p.address, p.shown)},
                    {"sent", p.sent},
                    {"verified", p.verified}});
  }
  return list;
}

json EventJson(const Event& event) {
  return {{"id", event.id},
          {"at", station::FormatInstant(event.at)},
          {"kind", event.kind},
          {"rev", event.rev ? json(*event.rev) : json()},
          {"detail", event.detail}};
}

json DesiredPanelsJson(const DesiredState& desired, const Readback& readback) {
  json list = json::array();
  for (const auto& [address, request] : desired.panels)
    list.push_back(RecordJson(address, desired.Target(address, readback)));
  return list;
}

}  // namespace agent

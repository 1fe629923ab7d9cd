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
                   {"rev", change.stateRev ? json(*change.stateRev) : json()},
                   {"issuer", change.request.issuer},
                   {"requested_at", Instant(change.requestedAt)},
                   {"effective_at", Instant(change.request.effectiveAt)},
                   {"state", StateName(change.state)},
                   {"panels", panels},
                   {"brightness", change.request.brightness ? json(*change.request.brightness) : json()}};
  if (change.request.sourceRev) document["source_rev"] = *change.request.sourceRev;
  return document;
}

json PanelOutcomesJson(const ChangeRequest& change, const SignJobResult& result) {
  json list = json::array();
  for (const station::PanelRequest& request : change.panels) {
    const uint8_t address = request.address;
    const auto outcome = std::find_if(result.panels.begin(), result.panels.end(),
                                      [address](const PanelOutcome& p) { return p.address == address; });
    const auto shown = result.readback.find(address);
    const std::optional<sign_link::PanelRecord> after =
        shown != result.readback.end() ? shown->second : std::nullopt;
    const bool sent = outcome != result.panels.end() && outcome->sent;
    json entry = {{"address", address}, {"row", station::EntryRowOf(address)}, {"half", station::HalfOf(address)}};
    entry["asked"] = sent && outcome->wanted ? RecordJson(address, outcome->wanted)
                     : after                 ? RecordJson(address, station::Merged(*after, request))
                                             : json();
    entry["sent"] = sent;
    entry["acknowledged"] = sent && outcome->acknowledged;
    entry["verified"] = !result.Failed() && PanelShows(after, request);
    entry["after"] = after ? RecordJson(address, after) : json();
    if (outcome != result.panels.end() && !outcome->skipped.empty()) entry["skipped"] = outcome->skipped;
    if (outcome == result.panels.end() && entry["verified"].get<bool>()) entry["skipped"] = "the sign held it already";
    list.push_back(entry);
  }
  return list;
}

bool PanelShows(const std::optional<sign_link::PanelRecord>& record, const station::PanelRequest& request) {
  return record && station::Merged(*record, request) == *record;
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
          {"kind", station::EventKindName(event.kind)},
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

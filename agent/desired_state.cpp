#include "agent/desired_state.h"

#include <algorithm>

#include "protocol/read_sign.h"


namespace agent {

namespace {

using nlohmann::json;

// A field kept as its one character of the frame, or null.
json Code(const std::optional<char>& code) { return code ? json(std::string(1, *code)) : json(); }
std::optional<char> CodeFrom(const json& value) {
  if (!value.is_string() || value.get<std::string>().size() != 1) return std::nullopt;
  return value.get<std::string>()[0];
}

}  // namespace

const char* StateName(ChangeState state) {
  switch (state) {
    case ChangeState::kPending:
      return "pending";
    case ChangeState::kApplied:
      return "applied";
    case ChangeState::kSkipped:
      return "skipped";
    case ChangeState::kCancelled:
      return "cancelled";
  }
  return "pending";
}

void DesiredState::Apply(const ChangeRequest& change) {
  // The first change covers the whole sign: what it does not name stays as
  // the sign shows it, filled in from the read-back made for it.
  if (panels.empty()) {
    for (const sign_exchange::ReadStep& step : sign_exchange::kReadSteps) panels[step.address] = {step.address, {}, {}, {}};
  }
  for (const station::PanelRequest& request : change.panels) {
    station::PanelRequest& held = panels[request.address];
    held.address = request.address;
    if (request.price) held.price = request.price;
    if (request.grade) held.grade = request.grade;
    if (request.inscription) held.inscription = request.inscription;
  }
  if (change.brightness) brightness = change.brightness;
}

bool DesiredState::Open() const {
  return std::any_of(panels.begin(), panels.end(), [](const auto& entry) { return !station::Complete(entry.second); });
}

bool DesiredState::FillFrom(const Readback& readback) {
  bool filled = false;
  for (auto& [address, request] : panels) {
    const auto shown = readback.find(address);
    if (station::Complete(request) || shown == readback.end() || !shown->second) continue;
    const sign_link::PanelRecord record = station::Merged(*shown->second, request);
    request = {address, record.price, record.grade, record.inscription};
    filled = true;
  }
  return filled;
}

std::optional<sign_link::PanelRecord> DesiredState::Target(uint8_t address,
                                                           const Readback& readback) const {
  const auto wanted = panels.find(address);
  if (wanted == panels.end()) return std::nullopt;
  const auto shown = readback.find(address);
  const bool known = shown != readback.end() && shown->second;
  if (!known && !station::Complete(wanted->second)) return std::nullopt;
  return station::Merged(known ? *shown->second : sign_link::PanelRecord{}, wanted->second);
}

json RequestsJson(const std::vector<station::PanelRequest>& requests) {
  json list = json::array();
  for (const station::PanelRequest& r : requests) {
    list.push_back({{"address", r.address},
                    {"price", r.price ? json(*r.price) : json()},
                    {"grade", Code(r.grade)},
                    {"inscription", Code(r.inscription)}});
  }
  return list;
}

std::vector<station::PanelRequest> RequestsFromJson(const json& list) {
  std::vector<station::PanelRequest> requests;
  for (const json& entry : list) {
    station::PanelRequest r;
    r.address = entry.at("address").get<uint8_t>();
    if (entry.at("price").is_string()) r.price = entry["price"].get<std::string>();
    r.grade = CodeFrom(entry.at("grade"));
    r.inscription = CodeFrom(entry.at("inscription"));
    requests.push_back(r);
  }
  return requests;
}

json DesiredJson(const DesiredState& state) {
  std::vector<station::PanelRequest> requests;
  for (const auto& [address, request] : state.panels) requests.push_back(request);
  return {{"panels", RequestsJson(requests)},
          {"brightness", state.brightness ? json(*state.brightness) : json()}};
}

DesiredState DesiredFromJson(const json& document) {
  DesiredState state;
  for (const station::PanelRequest& r : RequestsFromJson(document.at("panels")))
    state.panels[r.address] = r;
  if (document.at("brightness").is_string()) state.brightness = document["brightness"].get<std::string>();
  return state;
}

json ReadbackJson(const Readback& readback) {
  std::vector<station::PanelRequest> records;
  for (const auto& [address, record] : readback) {
    records.push_back(record ? station::PanelRequest{address, record->price, record->grade,
                                                     record->inscription}
                             : station::PanelRequest{address, {}, {}, {}});
  }
  return RequestsJson(records);
}

Readback ReadbackFromJson(const json& list) {
  Readback readback;
  for (const station::PanelRequest& r : RequestsFromJson(list)) {
    readback[r.address] = station::Complete(r) ? std::optional(station::Merged({}, r)) : std::nullopt;
  }
  return readback;
}

}  // namespace agent

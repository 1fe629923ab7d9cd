#include "mqtt/document_fields.h"
#include "mqtt/documents.h"
#include "station/panel_json.h"

namespace tarvo_mqtt {

namespace {

using nlohmann::json;

std::optional<std::string> Brightness(Fields& fields) {
  const json& value = fields.Value("brightness");
  if (value.is_null()) return std::nullopt;
  if (value.is_string() && value.get<std::string>() == "auto") return "auto";
  if (value.is_number_integer() && value.get<int64_t>() >= 0 && value.get<int64_t>() <= 9)
    return std::to_string(value.get<int64_t>());
  fields.Refuse("\"brightness\" must be \"auto\", 0..9 or null");
}

json BrightnessJson(const std::optional<std::string>& brightness) {
  if (brightness == "auto") return "auto";
  return brightness ? json(std::stoi(*brightness)) : json();
}

std::vector<ScheduledEntry> Scheduled(Fields& fields) {
  const json& list = fields.Value("scheduled");
  if (!list.is_array()) fields.Refuse("\"scheduled\" must be a list");
  std::vector<ScheduledEntry> entries;
  for (size_t i = 0; i < list.size(); ++i) {
    Fields item(list[i], "desired.scheduled[" + std::to_string(i) + "]");
    ScheduledEntry entry;
    entry.changeId = item.Text("change_id");
    entry.issuer = item.Text("issuer");
    entry.effectiveAt = item.Time("effective_at");
    entry.panels = item.Panels("panels");
    entry.brightness = Brightness(item);
    item.Finish();
    if (!entries.empty() && entry.effectiveAt < entries.back().effectiveAt)
      item.Refuse("entries must come in the order of their times");
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace

Desired ParseDesired(std::string_view payload) {
  Fields fields(payload, "desired");
  Desired document;
  document.rev = fields.Integer("rev", 1);
  if (document.rev > kHighestRev)
    fields.Refuse("\"rev\" must be a whole number 1.." + std::to_string(kHighestRev));
  document.changeId = fields.Text("change_id");
  document.issuer = fields.Text("issuer");
  document.panels = fields.Panels("panels");
  document.brightness = Brightness(fields);
  document.scheduled = Scheduled(fields);
  fields.Finish();
  return document;
}

std::string Serialise(const Desired& document) {
  json scheduled = json::array();
  for (const ScheduledEntry& entry : document.scheduled)
    scheduled.push_back({{"change_id", entry.changeId},
                         {"issuer", entry.issuer},
                         {"effective_at", TimeJson(entry.effectiveAt)},
                         {"panels", PanelsJson(entry.panels)},
                         {"brightness", BrightnessJson(entry.brightness)}});
  return station::Dump({{"rev", document.rev},
                        {"change_id", document.changeId},
                        {"issuer", document.issuer},
                        {"panels", PanelsJson(document.panels)},
                        {"brightness", BrightnessJson(document.brightness)},
                        {"scheduled", scheduled}});
}

}  // namespace tarvo_mqtt

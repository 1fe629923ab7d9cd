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

}  // namespace

Desired ParseDesired(std::string_view payload) {
  Fields fields(payload, "desired");
  Desired document;
  document.rev = fields.Integer("rev", 1);
  document.changeId = fields.Text("change_id");
  document.issuer = fields.Text("issuer");
  document.effectiveAt = fields.OptionalTime("effective_at");
  document.panels = fields.Panels("panels");
  document.brightness = Brightness(fields);
  fields.Finish();
  return document;
}

std::string Serialise(const Desired& document) {
  json brightness;
  if (document.brightness == "auto") {
    brightness = "auto";
  } else if (document.brightness) {
    brightness = std::stoi(*document.brightness);
  }
  return station::Dump({{"rev", document.rev},
                        {"change_id", document.changeId},
                        {"issuer", document.issuer},
                        {"effective_at", TimeJson(document.effectiveAt)},
                        {"panels", PanelsJson(document.panels)},
                        {"brightness", brightness}});
}

}  // namespace tarvo_mqtt

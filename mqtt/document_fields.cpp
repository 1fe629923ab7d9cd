#include "mqtt/document_fields.h"

#include <limits>

#include "station/input_error.h"
#include "station/panel_json.h"

namespace tarvo_mqtt {

using nlohmann::json;

Fields::Fields(const json& object, std::string document)
    : object_(object), document_(std::move(document)) {
  if (!object_.is_object()) Refuse("not a JSON object");
}

Fields::Fields(std::string_view payload, std::string document)
    : parsed_(json::parse(payload, nullptr, false)),
      object_(parsed_),
      document_(std::move(document)) {
  if (parsed_.is_discarded()) Refuse("not a JSON document");
  if (!object_.is_object()) Refuse("not a JSON object");
}

const json& Fields::Value(const char* key) {
  const auto value = object_.find(key);
  if (value == object_.end()) Refuse(std::string("no \"") + key + "\"");
  read_.insert(key);
  return *value;
}

std::optional<int64_t> Fields::OptionalInteger(const char* key, int64_t lowest) {
  const json& value = Value(key);
  if (value.is_null()) return std::nullopt;
  if (!value.is_number_integer() ||
      (value.is_number_unsigned() && value.get<uint64_t>() > std::numeric_limits<int64_t>::max()) ||
      value.get<int64_t>() < lowest)
    Refuse(std::string("\"") + key + "\" must be a whole number " + std::to_string(lowest) + "..");
  return value.get<int64_t>();
}

int64_t Fields::Integer(const char* key, int64_t lowest) {
  const std::optional<int64_t> value = OptionalInteger(key, lowest);
  if (!value)
    Refuse(std::string("\"") + key + "\" must be a whole number " + std::to_string(lowest) + "..");
  return *value;
}

std::optional<std::string> Fields::OptionalText(const char* key) {
  const json& value = Value(key);
  if (value.is_null()) return std::nullopt;
  if (!value.is_string() || value.get<std::string>().empty())
    Refuse(std::string("\"") + key + "\" must be a text that is not empty");
  return value.get<std::string>();
}

std::string Fields::Text(const char* key) {
  const std::optional<std::string> text = OptionalText(key);
  if (!text) Refuse(std::string("\"") + key + "\" must be a text that is not empty");
  return *text;
}

std::optional<WallTime> Fields::OptionalTime(const char* key) {
  const json& value = Value(key);
  if (value.is_null()) return std::nullopt;
  const std::optional<WallTime> time =
      value.is_string() ? station::ParseRfc3339(value.get<std::string>()) : std::nullopt;
  if (!time)
    Refuse(std::string("\"") + key + "\" must be an RFC 3339 time such as 2026-12-09T03:00:00Z");
  return time;
}

WallTime Fields::Time(const char* key) {
  const std::optional<WallTime> time = OptionalTime(key);
  if (!time)
    Refuse(std::string("\"") + key + "\" must be an RFC 3339 time such as 2026-12-09T03:00:00Z");
  return *time;
}

std::vector<station::PanelRequest> Fields::Panels(const char* key) {
  const json& panels = Value(key);
  try {
    return station::ParsePanelList(panels, document_);
  } catch (const station::InputError& error) {
    throw DocumentError(error.what());
  }
}

void Fields::Finish() const {
  for (const auto& [key, value] : object_.items())
    if (!read_.count(key)) Refuse("unknown key \"" + key + "\"");
}

void Fields::Refuse(const std::string& what) const { throw DocumentError(document_ + ": " + what); }

json PanelsJson(const std::vector<station::PanelRequest>& panels) {
  json list = json::array();
  for (const station::PanelRequest& panel : panels) list.push_back(station::RequestJson(panel));
  return list;
}

json TimeJson(const std::optional<WallTime>& time) {
  return time ? json(station::Rfc3339Utc(*time)) : json();
}

}  // namespace tarvo_mqtt

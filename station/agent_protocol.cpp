#include "station/agent_protocol.h"

#include <algorithm>

#include "station/input_error.h"
#include "station/panel_json.h"
#include "station/utc_instant.h"

namespace station::agent_protocol {

namespace {

using nlohmann::json;

[[noreturn]] void Refuse(const std::string& what) { throw InputError("bad request: " + what); }

constexpr std::pair<std::string_view, Op> kOps[] = {
    {"write", Op::kWrite},       {"read", Op::kRead},     {"status", Op::kStatus},
    {"schedule", Op::kSchedule}, {"cancel", Op::kCancel}, {"history", Op::kHistory},
};

std::optional<int64_t> InstantField(const json& document, const char* key) {
  if (!document.contains(key) || document[key].is_null()) return std::nullopt;
  const json& value = document[key];
  const std::optional<int64_t> instant =
      value.is_string() ? ParseInstant(value.get<std::string>()) : std::nullopt;
  if (!instant)
    Refuse(std::string("\"") + key + "\" is a time such as 2026-12-09T06:00:00+03:00");
  return instant;
}

void ParseWrite(const json& document, Request& request) {
  if (document.contains("specs")) {
    const json& specs = document["specs"];
    if (!specs.is_array() || !std::all_of(specs.begin(), specs.end(),
                                          [](const json& s) { return s.is_string(); }))
      Refuse("\"specs\" is a list of SPEC texts such as \"row1=45.60:95\"");
    request.panels = ParseSpecs(specs.get<std::vector<std::string>>());
  }
  if (document.contains("panels")) {
    if (document.contains("specs")) Refuse("give \"specs\" or \"panels\", not both");
    request.panels = ParsePanelFile(Dump({{"panels", document["panels"]}}));
  }
  if (document.contains("brightness")) {
    request.brightness = BrightnessLevel(document["brightness"]);
    if (!request.brightness) Refuse("\"brightness\" is \"auto\" or a level 0..9");
  }
  if (request.panels.empty() && !request.brightness)
    Refuse("a write names panels (\"specs\" or \"panels\") or a \"brightness\"");
  request.effectiveAt = InstantField(document, "effective_at");
}

}  // namespace

Request ParseRequest(std::string_view line) {
  if (line.size() >= kMaxRequestBytes) Refuse("longer than " + std::to_string(kMaxRequestBytes) + " bytes");
  const json document = json::parse(line, nullptr, false);
  if (document.is_discarded() || !document.is_object()) Refuse("not a JSON object");
  const json op = document.value("op", json());
  const auto known = std::find_if(std::begin(kOps), std::end(kOps), [&op](const auto& entry) {
    return op.is_string() && op.get<std::string>() == entry.first;
  });
  if (known == std::end(kOps))
    Refuse("\"op\" is one of write, read, status, schedule, cancel, history");
  Request request;
  request.op = known->second;
  switch (request.op) {
    case Op::kWrite:
      ParseWrite(document, request);
      break;
    case Op::kCancel:
      if (!document.contains("id") || !document["id"].is_string() ||
          document["id"].get<std::string>().empty())
        Refuse("cancel names the change's \"id\"");
      request.id = document["id"].get<std::string>();
      break;
    case Op::kHistory:
      request.since = InstantField(document, "since");
      break;
    default:
      break;
  }
  return request;
}

std::optional<std::string> BrightnessLevel(const json& value) {
  if (value.is_number_integer() && value.get<int64_t>() >= 0 && value.get<int64_t>() <= 9)
    return std::to_string(value.get<int64_t>());
  if (!value.is_string()) return std::nullopt;
  const std::string text = value.get<std::string>();
  if (text == "auto" || (text.size() == 1 && text[0] >= '0' && text[0] <= '9')) return text;
  return std::nullopt;
}

std::string Line(const json& document) { return Dump(document) + "\n"; }

json ErrorReply(const std::string& message) { return {{"ok", false}, {"error", message}}; }

}  // namespace station::agent_protocol

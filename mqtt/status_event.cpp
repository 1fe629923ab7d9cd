// The two small documents: a station's connection status and one history event.
#include <algorithm>
#include <chrono>

#include "mqtt/document_fields.h"
#include "mqtt/documents.h"
#include "station/panel_json.h"

namespace tarvo_mqtt {

namespace {

using nlohmann::json;

bool IsKindName(const std::string& kind) {
  const auto word = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
  return !kind.empty() && word(kind.front()) && word(kind.back()) &&
         std::all_of(kind.begin(), kind.end(), [&](char c) { return word(c) || c == '-'; });
}

}  // namespace

Status ParseStatus(std::string_view payload) {
  Fields fields(payload, "status");
  const json& state = fields.Value("state");
  if (state != "online" && state != "lost") fields.Refuse("\"state\" must be online or lost");
  Status document{state == "online", fields.Integer("session", 1)};
  fields.Finish();
  return document;
}

std::string Serialise(const Status& document) {
  return station::Dump(
      {{"state", document.online ? "online" : "lost"}, {"session", document.session}});
}

Event ParseEvent(std::string_view payload) {
  Fields fields(payload, "events");
  Event document;
  document.bootId = fields.Text("boot_id");
  document.seq = fields.Integer("seq", 1);
  document.at = fields.Time("at");
  document.kind = fields.Text("kind");
  if (!IsKindName(document.kind))
    fields.Refuse("\"kind\" must be lowercase words joined by -, such as drift-found");
  const json& text = fields.Value("text");
  if (!text.is_string()) fields.Refuse("\"text\" must be a text");
  document.text = text.get<std::string>();
  document.rev = fields.OptionalInteger("rev", 1);
  fields.Finish();
  return document;
}

std::string Serialise(const Event& document) {
  return station::Dump({{"boot_id", document.bootId},
                        {"seq", document.seq},
                        {"at", TimeJson(document.at)},
                        {"kind", document.kind},
                        {"text", document.text},
                        {"rev", document.rev ? json(*document.rev) : json()}});
}

int64_t NextSession(int64_t last) {
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return std::max(last + 1, static_cast<int64_t>(now.count()));
}

}  // namespace tarvo_mqtt

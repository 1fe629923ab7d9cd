#include "cli/history_text.h"

#include <map>
#include <vector>

#include "station/human_time.h"
#include "station/panel_json.h"
#include "station/panel_request.h"
#include "station/text.h"
#include "station/utc_instant.h"

namespace tarvo_cli {

namespace {

using nlohmann::json;

std::string Str(const json& value) {
  return value.is_null() ? "-" : value.is_string() ? value.get<std::string>() : value.dump();
}

// "95 45.60" (grade and price, as the window shows a panel); "unknown" for a
// panel that did not answer.
std::string Shown(const json& panel) {
  if (!panel.is_object() || !panel.value("ok", true)) return station::Tr("unknown");
  std::string text = Str(panel.value("grade", json())) + " " + Str(panel.value("price", json()));
  if (const json inscription = panel.value("inscription", json());
      inscription.is_number() && inscription != 0)
    text += " " + station::Format("inscription %s", {inscription.dump()});
  return text;
}

// Panels of a change or an outcome by row: both halves alike read as one
// "row 1 ...", else each half on its own. `words` gives a panel's words.
template <typename Words>
std::string ByRow(const json& panels, Words words) {
  std::map<int, std::vector<const json*>> rows;
  for (const json& panel : panels)
    rows[station::EntryRowOf(panel.value("address", uint8_t{0}))].push_back(&panel);
  std::string text;
  for (const auto& [row, halves] : rows) {
    if (!text.empty()) text += ", ";
    const std::string first = words(*halves[0]);
    if (halves.size() == 2 && words(*halves[1]) == first) {
      text += station::Format("row %s %s both halves", {std::to_string(row), first});
      continue;
    }
    for (size_t i = 0; i < halves.size(); ++i)
      text +=
          (i ? ", " : "") +
          station::Format("row %s half %s %s",
                          {std::to_string(row),
                           std::to_string(station::HalfOf(halves[i]->value("address", uint8_t{0}))),
                           words(*halves[i])});
  }
  return text;
}

std::string Verdict(const json& outcome) {
  return outcome.value("verified", false) ? station::Tr("verified") : station::Tr("NOT verified");
}

// What a change asks: its panels and its brightness.
std::string Asked(const json& change) {
  std::string text =
      ByRow(change.value("panels", json::array()), [](const json& p) { return Shown(p); });
  if (const json level = change.value("brightness", json()); !level.is_null())
    text += (text.empty() ? "" : ", ") + station::Format("brightness %s", {Str(level)});
  return text;
}

// An outcome of a session with the sign: each panel written and its verdict.
std::string Outcome(const json& detail, const char* key) {
  std::string text = ByRow(detail.value("panels", json::array()), [key](const json& p) {
    return Shown(p.value(key, json())) + " " + Verdict(p);
  });
  if (const json& brightness = detail.value("brightness", json()); brightness.is_object())
    text += (text.empty() ? "" : ", ") +
            station::Format("brightness %s %s", {Str(brightness["level"]), Verdict(brightness)});
  return text.empty() ? station::Tr("the sign held every panel already") : text;
}

std::string Port(const json& detail) {
  const std::string device = Str(detail.value("device", json()));
  return Str(detail.value("port", json())) +
         (device == "-" || device.empty() ? "" : " (" + device + ")");
}

std::string Words(const std::string& kind, const json& detail) {
  if (kind == "applied") return Outcome(detail, "wanted");
  if (kind == "change accepted" || kind == "change scheduled") {
    const json at = detail.value("effective_at", json());
    const std::optional<int64_t> when =
        at.is_string() ? station::ParseInstant(at.get<std::string>()) : std::nullopt;
    return (when ? station::Format("for %s ", {station::LocalInstant(*when)}) : std::string()) +
           station::Format("by %s: %s", {Str(detail.value("issuer", json())), Asked(detail)});
  }
  if (kind == "change cancelled")
    return station::Format("change %s by %s",
                           {Str(detail.value("id", json())), Str(detail.value("by", json()))});
  if (kind == "change skipped")
    return station::Format(
        "change %s; rev %s is shown instead",
        {Str(detail.value("id", json())), Str(detail.value("shown_through_rev", json()))});
  if (kind == "change due") return station::Format("change %s", {Str(detail.value("id", json()))});
  if (kind == "drift found")
    return ByRow(detail.value("panels", json::array()), [](const json& p) {
      return station::Format("showed %s, not %s",
                             {Shown(p.value("shown", json())), Shown(p.value("wanted", json()))});
    });
  if (kind == "drift healed" || kind == "verification failed") return Outcome(detail, "wanted");
  if (kind == "port held" && detail.contains("holder"))
    return station::Format("%s by %s", {Port(detail), Str(detail["holder"])});
  if (kind == "port held" || kind == "port lost" || kind == "port failed" || kind == "sign silent")
    return Port(detail) + ": " + Str(detail.value("problem", json()));
  if (kind == "port back" || kind == "verification ok") return Port(detail);
  if (kind == "clock changed")
    return station::Format("by %s s", {std::to_string(detail.value("jump_ms", int64_t{0}) / 1000)});
  if (kind == "agent started")
    return station::Format("station %s, port %s, %s pending",
                           {Str(detail.value("station", json())), Str(detail.value("port", json())),
                            Str(detail.value("pending", json()))});
  if (kind == "agent stopped") return "";
  if (kind == "desired ignored")
    return station::Format(
        "head office rev %s, highest %s",
        {Str(detail.value("rev", json())), Str(detail.value("highest", json()))});
  if (kind == "desired rejected") return Str(detail.value("problem", json()));
  return detail.is_object() && detail.empty() ? "" : station::Dump(detail);
}

}  // namespace

std::string EventText(const json& event) {
  const std::string kind = Str(event.value("kind", json()));
  std::string text = kind;
  if (const json rev = event.value("rev", json()); !rev.is_null())
    text += " " + station::Format("rev %s", {rev.dump()});
  const json detail = event.value("detail", json::object());
  const std::string words = Words(kind, detail.is_object() ? detail : json::object());
  return words.empty() ? text : text + ": " + words;
}

void PrintHistory(std::ostream& out, const json& events) {
  std::string day;
  for (const json& event : events) {
    const json at = event.value("at", json());
    const std::optional<int64_t> ms =
        at.is_string() ? station::ParseInstant(at.get<std::string>()) : std::nullopt;
    const std::string local = ms ? station::LocalInstant(*ms) : Str(at);
    // "2026-12-08T06:00:00+03:00": the date, then the time of day.
    if (ms && local.substr(0, 10) != day) {
      day = local.substr(0, 10);
      out << day << '\n';
    }
    out << (ms ? local.substr(11, 8) : local) << ' ' << EventText(event) << '\n';
  }
}

}  // namespace tarvo_cli

#include "cli/history_text.h"

#include <map>
#include <vector>

#include "station/event_kind.h"
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

std::string Id(const json& detail, const char* key) { return Str(detail.value(key, json())); }

std::string Words(std::optional<station::EventKind> kind, const json& detail) {
  using station::EventKind;
  if (!kind) return detail.is_object() && detail.empty() ? "" : station::Dump(detail);
  switch (*kind) {
    case EventKind::kApplied:
    case EventKind::kDriftHealed:
    case EventKind::kVerificationFailed:
      return Outcome(detail, "wanted");
    case EventKind::kChangeAccepted:
    case EventKind::kChangeScheduled: {
      const json at = detail.value("effective_at", json());
      const std::optional<int64_t> when =
          at.is_string() ? station::ParseInstant(at.get<std::string>()) : std::nullopt;
      return (when ? station::Format("for %s ", {station::LocalInstant(*when)}) : std::string()) +
             station::Format("by %s: %s", {Id(detail, "issuer"), Asked(detail)});
    }
    case EventKind::kChangeCancelled:
      return station::Format("change %s by %s", {Id(detail, "id"), Id(detail, "by")});
    case EventKind::kChangeSkipped:
      return station::Format("change %s; rev %s is shown instead",
                             {Id(detail, "id"), Id(detail, "shown_through_rev")});
    case EventKind::kChangeDue:
    case EventKind::kChangeVerified:
      return station::Format("change %s", {Id(detail, "id")});
    case EventKind::kChangeSuperseded:
      return station::Format("change %s by change %s", {Id(detail, "id"), Id(detail, "by")});
    case EventKind::kDriftFound:
      return ByRow(detail.value("panels", json::array()), [](const json& p) {
        return station::Format("showed %s, not %s",
                               {Shown(p.value("shown", json())), Shown(p.value("wanted", json()))});
      });
    case EventKind::kPortHeld:
      if (detail.contains("holder"))
        return station::Format("%s by %s", {Port(detail), Str(detail["holder"])});
      [[fallthrough]];
    case EventKind::kPortLost:
    case EventKind::kPortFailed:
    case EventKind::kSignSilent:
      return Port(detail) + ": " + Id(detail, "problem");
    case EventKind::kPortBack:
    case EventKind::kVerificationOk:
      return Port(detail);
    case EventKind::kClockChanged:
      return station::Format("by %s s", {std::to_string(detail.value("jump_ms", int64_t{0}) / 1000)});
    case EventKind::kAgentStarted:
      return station::Format("station %s, port %s, %s pending",
                             {Id(detail, "station"), Id(detail, "port"), Id(detail, "pending")});
    case EventKind::kAgentStopped:
      return "";
    case EventKind::kDesiredStale:
    case EventKind::kDesiredConflict:
      return station::Format("office rev %s (change %s); office rev %s (change %s) taken",
                             {Id(detail, "office_rev"), Id(detail, "change_id"),
                              Id(detail, "holds_office_rev"), Id(detail, "holds_change_id")});
    case EventKind::kDesiredRejected:
      return Id(detail, "problem");
    case EventKind::kHistoryPruned:
      return station::Format("%s events before %s", {Id(detail, "events"), Id(detail, "before")});
  }
  return "";
}

}  // namespace

std::string EventText(const json& event) {
  const std::string kind = Str(event.value("kind", json()));
  std::string text = kind;
  if (const json rev = event.value("rev", json()); !rev.is_null())
    text += " " + station::Format("rev %s", {rev.dump()});
  const json detail = event.value("detail", json::object());
  const std::string words =
      Words(station::EventKindFromName(kind), detail.is_object() ? detail : json::object());
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

// POST /api/v1/pushes: the same change as `tarvo-fleet push` (SPECs or
// panels, stations or a group, now or at a time), checked whole before
// anything is published; POST /api/v1/pushes/ID/cancel withdraws a
// scheduled one before its time, as `tarvo-fleet cancel`.
#include <set>

#include "mqtt/topics.h"
#include "office/office_api.h"
#include "station/input_error.h"
#include "station/panel_json.h"
#include "station/rfc3339.h"

namespace office {

namespace {

using nlohmann::json;

[[noreturn]] void Refuse(int status, const std::string& message) {
  throw ApiError{status, message};
}

std::vector<std::string> TextList(const json& body, const char* key) {
  std::vector<std::string> list;
  if (!body[key].is_array()) Refuse(400, std::string("\"") + key + "\" must be a list of texts");
  for (const json& item : body[key]) {
    if (!item.is_string()) Refuse(400, std::string("\"") + key + "\" must be a list of texts");
    list.push_back(item);
  }
  return list;
}

}  // namespace

HttpResponse OfficeApi::CreatePush(const HttpRequest& request, const Session& session) {
  if (session.user.role != Role::kPricing) Refuse(403, "a viewer may not push prices");
  const json body = JsonBody(request);
  static const std::set<std::string> kKeys = {"specs", "panels", "stations", "group", "at",
                                              "brightness"};
  for (const auto& [key, value] : body.items())
    if (!kKeys.count(key))
      Refuse(400, "unknown key \"" + key + "\" (specs, panels, stations, group, at, brightness)");
  PushOrder order;
  try {
    if (body.contains("specs") == body.contains("panels"))
      Refuse(400, "give either \"specs\" or \"panels\"");
    order.panels = body.contains("specs") ? station::ParseSpecs(TextList(body, "specs"))
                                          : station::ParsePanelList(body["panels"], "panels");
  } catch (const station::InputError& error) {
    Refuse(400, error.what());
  }
  if (body.contains("brightness")) {
    const json& brightness = body["brightness"];
    if (!brightness.is_string() ||
        (brightness != "auto" &&
         (brightness.get<std::string>().size() != 1 || !std::isdigit(brightness.get<std::string>()[0]))))
      Refuse(400, "\"brightness\" must be \"auto\" or \"0\"..\"9\"");
    order.brightness = brightness.get<std::string>();
  }
  if (order.panels.empty() && !order.brightness) Refuse(400, "the push changes nothing");
  if (body.contains("at")) {
    if (!body["at"].is_string()) Refuse(400, "\"at\" must be an RFC 3339 time in quotes");
    order.effectiveAt = station::ParseRfc3339(body["at"].get<std::string>());
    if (!order.effectiveAt)
      Refuse(400, "\"at\" must be an RFC 3339 time such as 2026-12-09T06:00:00+03:00");
  }
  if (body.contains("stations") == body.contains("group"))
    Refuse(400, "give either \"stations\" or \"group\"");
  if (body.contains("stations")) {
    order.stations = TextList(body, "stations");
    order.target = {{"stations", order.stations}};
  } else {
    if (!body["group"].is_string()) Refuse(400, "\"group\" must be a group's name");
    order.stations = GroupMembers(body["group"]);
    order.target = {{"group", body["group"]}};
  }
  if (order.stations.empty()) Refuse(400, "no station to push to");
  std::set<std::string> unique;
  for (const std::string& id : order.stations) {
    if (!tarvo_mqtt::IsStationId(id)) Refuse(400, "\"" + id + "\" is not a station id");
    if (!unique.insert(id).second) Refuse(400, "station " + id + " is named twice");
    if (!parts_.pushes.Known(id)) Refuse(400, "station " + id + " has not been seen on the broker");
  }
  order.issuer = session.user.name;
  return Publish(order);
}

HttpResponse OfficeApi::CancelPush(const std::string& changeId, const Session& session) {
  if (session.user.role != Role::kPricing) Refuse(403, "a viewer may not cancel a push");
  const std::optional<PushRecord> push = parts_.store.Push(changeId);
  if (!push) Refuse(404, "no push " + changeId);
  if (push->cancels) Refuse(409, "push " + changeId + " is a cancel itself");
  if (!push->effectiveAt) Refuse(409, "push " + changeId + " was for now: push the old prices instead");
  if (*push->effectiveAt <= NowMillis())
    Refuse(409, "push " + changeId + " came due at " + TimeText(push->effectiveAt).get<std::string>() +
                    ": push the old prices instead");
  PushOrder order;
  for (const PushStation& station : push->stations) order.stations.push_back(station.station);
  order.target = push->target;
  order.issuer = session.user.name;
  order.cancels = changeId;
  return Publish(order);
}

HttpResponse OfficeApi::Publish(const PushOrder& order) {
  if (!parts_.brokerConnected()) Refuse(503, "the broker is not connected; nothing was pushed");
  try {
    return JsonResponse(201, PushJson(parts_.pushes.Create(order)));
  } catch (const std::runtime_error& error) {
    Refuse(503, error.what());
  }
}

}  // namespace office

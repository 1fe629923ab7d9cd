#include "office/office_api.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "mqtt/topics.h"
#include "station/rfc3339.h"

namespace office {

namespace {

using nlohmann::json;

[[noreturn]] void Refuse(int status, const std::string& message) {
  throw ApiError{status, message};
}

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  std::stringstream stream(path);
  for (std::string part; std::getline(stream, part, '/');)
    if (!part.empty()) parts.push_back(part);
  return parts;
}

std::string CsvField(const std::string& value, bool text) {
  std::string field = value;
  // A spreadsheet must not take a user's text for a formula.
  if (text && !field.empty() && std::string("=+-@").find(field[0]) != std::string::npos)
    field = "'" + field;
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (char c : field) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string Plain(const json& value) {
  if (value.is_null()) return "";
  if (value.is_string()) return value.get<std::string>();
  return value.dump();
}

}  // namespace

HttpResponse JsonResponse(int status, const json& body) {
  HttpResponse response;
  response.status = status;
  response.body = body.dump();
  response.headers.emplace_back("Cache-Control", "no-store");
  return response;
}

Millis TimeParameter(const std::string& text, const std::string& name) {
  const std::optional<station::WallTime> time = station::ParseRfc3339(text);
  if (!time)
    Refuse(400, "\"" + name + "\" must be an RFC 3339 time such as 2026-12-03T14:05:00+03:00");
  return ToMillis(*time);
}

json JsonBody(const HttpRequest& request) {
  json body = json::parse(request.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) Refuse(400, "the body must be one JSON object");
  return body;
}

json PushJson(const PushRecord& push) {
  json stations = json::array();
  for (const PushStation& station : push.stations)
    stations.push_back({{"station", station.station},
                        {"rev", station.rev},
                        {"outcome", station.outcome},
                        {"detail", station.detail},
                        {"at", TimeText(station.at)}});
  return {{"change_id", push.changeId},   {"issuer", push.issuer},
          {"created_at", TimeText(push.created)}, {"effective_at", TimeText(push.effectiveAt)},
          {"panels", push.panels},        {"target", push.target},
          {"brightness", push.brightness ? json(*push.brightness) : json()},
          {"cancels", push.cancels ? json(*push.cancels) : json()},
          {"cancelled_by", push.cancelledBy}, {"stations", stations}};
}

HttpResponse OfficeApi::Handle(const HttpRequest& request) {
  try {
    return Route(request);
  } catch (const ApiError& error) {
    return JsonResponse(error.status, {{"error", error.message}});
  }
}

HttpResponse OfficeApi::Route(const HttpRequest& request) {
  const std::vector<std::string> parts = Split(request.path);
  const std::string& method = request.method;
  if (parts.empty()) return StaticFile("index.html");
  if (parts.size() == 1 && parts[0] == "login") return StaticFile("login.html");
  if (parts.size() == 2 && parts[0] == "static") return StaticFile(parts[1]);
  if (parts.size() == 1 && parts[0] == "metrics") return Metrics(request);
  if (parts.size() < 2 || parts[0] != "api" || parts[1] != "v1") Refuse(404, "no such page");
  const std::vector<std::string> api(parts.begin() + 2, parts.end());
  const bool changes = method != "GET" && method != "HEAD";
  if (api.size() == 1 && api[0] == "login") {
    if (method != "POST") Refuse(405, "login is POST");
    return Login(request);
  }
  const Session* session = sessions_.Find(request);
  if (session == nullptr) Refuse(401, "log in first");
  if (changes)
    if (const std::optional<std::string> refusal = Sessions::CrossSite(request, session))
      Refuse(403, *refusal);
  if (api.size() == 1 && api[0] == "logout") {
    if (method != "POST") Refuse(405, "logout is POST");
    sessions_.Close(request);
    HttpResponse response = JsonResponse(200, {{"ok", true}});
    response.headers.emplace_back("Set-Cookie", Sessions::ExpiredCookie(request.tls));
    return response;
  }
  if (api.size() == 1 && api[0] == "session")
    return JsonResponse(200, {{"user", session->user.name},
                              {"role", RoleName(session->user.role)},
                              {"csrf", session->csrf}});
  const bool cancel = api.size() == 3 && api[0] == "pushes" && api[2] == "cancel";
  if (changes && api[0] != "groups" && !(api.size() == 1 && api[0] == "pushes") && !cancel)
    Refuse(405, "this resource is read only");
  if (api.size() == 1 && api[0] == "stations") return Stations(request);
  if (api.size() == 2 && api[0] == "stations") return StationPart(request, api[1], "");
  if (api.size() == 3 && api[0] == "stations") return StationPart(request, api[1], api[2]);
  if (api.size() == 1 && api[0] == "export.csv") return Export(request);
  if (api.size() == 1 && api[0] == "events") {
    HttpResponse response;
    response.stream = true;
    if (request.query.count("push")) response.streamTopic = "push:" + request.query.at("push");
    return response;
  }
  if (api[0] == "pushes") {
    if (api.size() == 1 && method == "POST") return CreatePush(request, *session);
    if (cancel) {
      if (method != "POST") Refuse(405, "a push is cancelled by POST");
      return CancelPush(api[1], *session);
    }
    if (method != "GET") Refuse(405, "pushes are made by POST /api/v1/pushes");
    if (api.size() == 1) {
      json list = json::array();
      for (const PushRecord& push : parts_.store.Pushes(200)) list.push_back(PushJson(push));
      return JsonResponse(200, list);
    }
    if (api.size() == 2) {
      const std::optional<PushRecord> push = parts_.store.Push(api[1]);
      if (!push) Refuse(404, "no push " + api[1]);
      return JsonResponse(200, PushJson(*push));
    }
  }
  if (api[0] == "groups" && api.size() <= 2)
    return Groups(request, api.size() == 2 ? api[1] : "", session);
  Refuse(404, "no such resource");
}

HttpResponse OfficeApi::Login(const HttpRequest& request) {
  if (const std::optional<std::string> refusal = Sessions::CrossSite(request, nullptr))
    Refuse(403, *refusal);
  const json body = JsonBody(request);
  if (!body.contains("user") || !body["user"].is_string() || !body.contains("password") ||
      !body["password"].is_string())
    Refuse(400, "give \"user\" and \"password\"");
  const std::string name = body["user"];
  const auto now = LoginThrottle::Clock::now();
  if (const std::chrono::seconds wait = throttle_.Wait(name, now); wait.count() > 0)
    Refuse(429, "too many failed logins as " + name + "; try again in " + std::to_string(wait.count()) + " s");
  const std::optional<User> user = CheckPassword(parts_.config.usersFile, name, body["password"]);
  if (!user) {
    throttle_.Failed(name, now);
    Refuse(401, "wrong user name or password");
  }
  throttle_.Succeeded(name);
  Session session;
  const std::string cookie = sessions_.Open(*user, request.tls, session);
  HttpResponse response = JsonResponse(
      200, {{"user", user->name}, {"role", RoleName(user->role)}, {"csrf", session.csrf}});
  response.headers.emplace_back("Set-Cookie", cookie);
  return response;
}

HttpResponse OfficeApi::Stations(const HttpRequest& request) {
  if (!request.query.count("group")) {
    HttpResponse response = JsonResponse(200, json::array());
    response.body = parts_.store.StationsText();
    return response;
  }
  json stations = parts_.store.Stations();
  {
    const std::vector<std::string> members = GroupMembers(request.query.at("group"));
    json kept = json::array();
    for (json& station : stations)
      if (std::find(members.begin(), members.end(), station["id"]) != members.end())
        kept.push_back(std::move(station));
    stations = std::move(kept);
  }
  return JsonResponse(200, stations);
}

HttpResponse OfficeApi::StationPart(const HttpRequest& request, const std::string& id,
                                    const std::string& part) {
  if (!tarvo_mqtt::IsStationId(id)) Refuse(400, "\"" + id + "\" is not a station id");
  const std::optional<json> station = parts_.store.Station(id);
  if (!station) Refuse(404, "no station " + id);
  if (part.empty()) return JsonResponse(200, *station);
  if (part == "history") {
    int limit = 200;
    if (request.query.count("limit")) {
      const std::string& text = request.query.at("limit");
      if (text.empty() || text.size() > 4 || !std::all_of(text.begin(), text.end(), ::isdigit) ||
          std::stoi(text) < 1 || std::stoi(text) > 1000)
        Refuse(400, "\"limit\" must be a whole number 1..1000");
      limit = std::stoi(text);
    }
    std::optional<Millis> before;
    if (request.query.count("before")) before = TimeParameter(request.query.at("before"), "before");
    return JsonResponse(200, parts_.store.History(id, before, limit));
  }
  if (part == "shown") {
    if (!request.query.count("at")) Refuse(400, "give \"at\", an RFC 3339 time");
    const Millis at = TimeParameter(request.query.at("at"), "at");
    return JsonResponse(200, {{"station", id},
                              {"at", TimeText(at)},
                              {"panels", parts_.store.ShownAt(id, at)}});
  }
  if (part == "periods") {
    const Millis from =
        request.query.count("from") ? TimeParameter(request.query.at("from"), "from") : 0;
    const Millis to = request.query.count("to") ? TimeParameter(request.query.at("to"), "to")
                                                : NowMillis() + 1;
    if (to <= from) Refuse(400, "\"to\" must come after \"from\"");
    return JsonResponse(200, parts_.store.Periods({id}, from, to));
  }
  Refuse(404, "no such resource");
}

HttpResponse OfficeApi::Export(const HttpRequest& request) {
  if (!request.query.count("from") || !request.query.count("to"))
    Refuse(400, "give \"from\" and \"to\", RFC 3339 times");
  const Millis from = TimeParameter(request.query.at("from"), "from");
  const Millis to = TimeParameter(request.query.at("to"), "to");
  if (to <= from) Refuse(400, "\"to\" must come after \"from\"");
  std::vector<std::string> stations;
  if (request.query.count("stations")) {
    std::stringstream list(request.query.at("stations"));
    for (std::string id; std::getline(list, id, ',');) {
      if (!tarvo_mqtt::IsStationId(id)) Refuse(400, "\"" + id + "\" is not a station id");
      stations.push_back(id);
    }
  }
  if (request.query.count("group")) {
    const std::vector<std::string> members = GroupMembers(request.query.at("group"));
    stations.insert(stations.end(), members.begin(), members.end());
  }
  std::string csv = "station,address,row,half,price,grade,inscription,from,to,rev,change_id,issuer\r\n";
  for (const json& period : parts_.store.Periods(stations, from, to)) {
    const auto address = static_cast<uint8_t>(period["address"].get<int>());
    csv += CsvField(period["station"], false) + "," + std::to_string(address) + "," +
           std::to_string(station::EntryRowOf(address)) + "," +
           std::to_string(station::HalfOf(address)) + "," + CsvField(Plain(period["price"]), false) +
           "," + CsvField(Plain(period["grade"]), false) + "," + Plain(period["inscription"]) + "," +
           Plain(period["from"]) + "," + Plain(period["to"]) + "," + Plain(period["rev"]) + "," +
           CsvField(Plain(period["change_id"]), true) + "," + CsvField(period["issuer"], true) +
           "\r\n";
  }
  HttpResponse response;
  response.contentType = "text/csv; charset=utf-8";
  response.body = csv;
  response.headers.emplace_back("Content-Disposition", "attachment; filename=\"prices.csv\"");
  return response;
}

std::vector<std::string> OfficeApi::GroupMembers(const std::string& name) const {
  const auto groups = parts_.store.Groups();
  const auto found = groups.find(name);
  if (found == groups.end()) Refuse(404, "no group " + name);
  return found->second;
}

HttpResponse OfficeApi::Groups(const HttpRequest& request, const std::string& name,
                               const Session* session) {
  if (request.method == "GET") {
    if (name.empty()) return JsonResponse(200, parts_.store.Groups());
    return JsonResponse(200, {{"name", name}, {"stations", GroupMembers(name)}});
  }
  if (request.method != "PUT" || name.empty()) Refuse(405, "a group is set by PUT /api/v1/groups/NAME");
  if (session->user.role != Role::kPricing) Refuse(403, "only a pricing user may set groups");
  if (!tarvo_mqtt::IsStationId(name)) Refuse(400, "a group's name is letters, digits, - and _");
  const json body = JsonBody(request);
  if (body.size() != 1 || !body.contains("stations") || !body["stations"].is_array())
    Refuse(400, "give {\"stations\": [...]} and nothing else");
  std::vector<std::string> stations;
  for (const json& id : body["stations"]) {
    if (!id.is_string() || !tarvo_mqtt::IsStationId(id.get<std::string>()))
      Refuse(400, "\"stations\" must be a list of station ids");
    stations.push_back(id);
  }
  parts_.store.SetGroup(name, stations);
  return JsonResponse(200, {{"name", name}, {"stations", stations}});
}

HttpResponse OfficeApi::StaticFile(const std::string& name) const {
  static const std::pair<const char*, const char*> kTypes[] = {
      {".html", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".svg", "image/svg+xml"}};
  const bool plain = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
  }) && name[0] != '.';
  const auto type = std::find_if(std::begin(kTypes), std::end(kTypes), [&](const auto& entry) {
    return name.size() > std::strlen(entry.first) &&
           name.compare(name.size() - std::strlen(entry.first), std::string::npos, entry.first) == 0;
  });
  std::ifstream file(parts_.config.webDir + "/" + name, std::ios::binary);
  if (!plain || type == std::end(kTypes) || !file) Refuse(404, "no such page");
  HttpResponse response;
  response.contentType = type->second;
  response.body.assign(std::istreambuf_iterator<char>(file), {});
  response.headers.emplace_back("Content-Security-Policy",
                                "default-src 'self'; frame-ancestors 'none'; form-action 'self'");
  response.headers.emplace_back("Cache-Control", "no-cache");
  return response;
}

}  // namespace office

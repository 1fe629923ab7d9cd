// /metrics in Prometheus' text format: per station what the alerts watch,
// and the office's own counters.
#include <cstdio>

#include "office/office_api.h"
#include "station/rfc3339.h"

namespace office {

namespace {

using nlohmann::json;

void Family(std::string& text, const char* name, const char* type, const char* help) {
  text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

std::string Seconds(const json& rfc3339) {
  if (!rfc3339.is_string()) return "";
  const std::optional<station::WallTime> time = station::ParseRfc3339(rfc3339.get<std::string>());
  if (!time) return "";
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f", static_cast<double>(ToMillis(*time)) / 1000.0);
  return buffer;
}

}  // namespace

HttpResponse OfficeApi::Metrics(const HttpRequest& request) {
  if (!request.loopbackPeer) {
    const std::string expected = "Bearer " + parts_.metricsToken;
    if (parts_.metricsToken.empty() || request.Header("authorization") != expected) {
      HttpResponse refused = JsonResponse(401, {{"error", "/metrics needs its bearer token"}});
      refused.headers.emplace_back("WWW-Authenticate", "Bearer");
      return refused;
    }
  }
  const json stations = parts_.store.Stations();
  std::string text;
  struct PerStation {
    const char* name;
    const char* type;
    const char* help;
    std::function<std::string(const json&)> value;
  };
  const PerStation families[] = {
      {"tarvo_station_online", "gauge", "1 while the station's agent is connected to the broker",
       [](const json& s) { return s["online"].is_boolean() ? (s["online"] ? "1" : "0") : ""; }},
      {"tarvo_station_verified", "gauge", "1 when the last read-back equalled the station's revision",
       [](const json& s) {
         return std::string(s["state"] == "verified" || s["state"] == "scheduled" ? "1" : "0");
       }},
      {"tarvo_station_revision_lag_seconds", "gauge",
       "how long the station has not taken the head office's latest plan (0: it has)",
       [](const json& s) { return std::to_string(s["lag_s"].get<int64_t>()); }},
      {"tarvo_station_last_verification_timestamp_seconds", "gauge",
       "when the sign was last read back",
       [](const json& s) {
         return s["last_verification"].is_object() ? Seconds(s["last_verification"]["at"]) : "";
       }},
      {"tarvo_station_drift_total", "counter", "drift the station found on its sign",
       [](const json& s) { return std::to_string(s["drift_count"].get<int64_t>()); }},
  };
  for (const PerStation& family : families) {
    Family(text, family.name, family.type, family.help);
    for (const json& station : stations) {
      const std::string value = family.value(station);
      if (!value.empty())
        text += std::string(family.name) + "{station=\"" + station["id"].get<std::string>() +
                "\"} " + value + "\n";
    }
  }
  const IngestCounters& counters = parts_.ingest.Counters();
  const std::pair<const char*, int64_t> totals[] = {
      {"tarvo_office_ingest_messages_total", counters.messages},
      {"tarvo_office_ingest_events_total", counters.events},
      {"tarvo_office_ingest_duplicates_total", counters.duplicates},
      {"tarvo_office_ingest_refused_total", counters.refused},
      {"tarvo_office_pushes_total", parts_.pushes.Created()}};
  for (const auto& [name, value] : totals) {
    Family(text, name, "counter", "since the service started");
    text += std::string(name) + " " + std::to_string(value) + "\n";
  }
  Family(text, "tarvo_office_broker_connected", "gauge", "1 while connected to the broker");
  text += std::string("tarvo_office_broker_connected ") + (parts_.brokerConnected() ? "1" : "0") + "\n";
  HttpResponse response;
  response.contentType = "text/plain; version=0.0.4; charset=utf-8";
  response.body = text;
  return response;
}

}  // namespace office

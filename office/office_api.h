#pragma once
// What the service answers over HTTP: the JSON API under /api/v1/, /metrics,
// and the web page's static files. Every answer is made on the loop's thread
// from office.db and what the loop knows; a refused request changes nothing.

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "office/http_server.h"
#include "office/ingest.h"
#include "office/login_throttle.h"
#include "office/office_config.h"
#include "office/office_store.h"
#include "office/push_tracker.h"
#include "office/sessions.h"

namespace office {

// A refusal: the status and the one line the client gets as {"error": ...}.
struct ApiError {
  int status;
  std::string message;
};

HttpResponse JsonResponse(int status, const nlohmann::json& body);

class OfficeApi {
 public:
  struct Parts {
    const OfficeConfig& config;
    OfficeStore& store;
    const Ingest& ingest;
    PushTracker& pushes;
    std::function<bool()> brokerConnected;
    std::string metricsToken;  // empty: /metrics only on loopback
  };
  explicit OfficeApi(Parts parts) : parts_(std::move(parts)) {}

  HttpResponse Handle(const HttpRequest& request);

 private:
  HttpResponse Route(const HttpRequest& request);
  HttpResponse Login(const HttpRequest& request);
  HttpResponse Stations(const HttpRequest& request);
  HttpResponse StationPart(const HttpRequest& request, const std::string& id,
                           const std::string& part);
  HttpResponse Export(const HttpRequest& request);
  HttpResponse CreatePush(const HttpRequest& request, const Session& session);
  HttpResponse CancelPush(const std::string& changeId, const Session& session);
  HttpResponse Publish(const PushOrder& order);
  HttpResponse Groups(const HttpRequest& request, const std::string& name, const Session* session);
  HttpResponse Metrics(const HttpRequest& request);
  HttpResponse StaticFile(const std::string& name) const;
  std::vector<std::string> GroupMembers(const std::string& name) const;

  Parts parts_;
  Sessions sessions_;
  LoginThrottle throttle_;
};

// Query and body values, refused with ApiError 400 naming what is wrong.
Millis TimeParameter(const std::string& text, const std::string& name);
nlohmann::json JsonBody(const HttpRequest& request);
nlohmann::json PushJson(const PushRecord& push);

}  // namespace office

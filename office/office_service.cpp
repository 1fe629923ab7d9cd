#include "office/office_service.h"

#include <signal.h>
#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-event.h>

#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

#include "mqtt/sd_event_driver.h"
#include "mqtt/topics.h"
#include "office/http_server.h"
#include "office/ingest.h"
#include "office/office_api.h"
#include "office/office_config.h"
#include "office/office_store.h"
#include "office/passwd_command.h"
#include "office/push_tracker.h"
#include "station/service_log.h"
#include "station/service_loop.h"

namespace office {

namespace {

using station::ServiceLog;

constexpr const char* kUsage =
    "usage: tarvo-office [--config FILE]\n"
    "       tarvo-office passwd USER [--role viewer|pricing] [--config FILE]\n"
    "The head office's service: keeps every station's state, events and verified prices in\n"
    "office.db, serves the web page, the JSON API under /api/v1/ and /metrics, and pushes prices.\n"
    "Default FILE: /etc/tarvo/office.toml.\n";

std::string ReadFile(const std::string& path, const std::string& what) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error(what + " " + path + " cannot be read");
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// The push deadlines, checked each second.
int OnTick(sd_event_source* source, uint64_t usec, void* tracker) {
  static_cast<PushTracker*>(tracker)->OnTimer();
  sd_event_source_set_time(source, usec + 1'000'000);
  sd_event_source_set_enabled(source, SD_EVENT_ON);
  return 0;
}

int Serve(const OfficeConfig& config) {
  mkdir(config.stateDir.c_str(), 0750);
  OfficeStore store(config.stateDir + "/office.db");
  for (const auto& [name, members] : config.groups) store.SetGroup(name, members);
  const station::ServiceLoop loop = station::NewServiceLoop();

  HttpServer* server = nullptr;
  const auto broadcast = [&server](const std::string& topic, const std::string& kind,
                                   const nlohmann::json& data) {
    if (server) server->Broadcast(topic, kind, data.dump());
  };
  Ingest ingest(store, [&](const nlohmann::json& change) {
    broadcast(change["type"], change["type"], change);
  });
  std::unique_ptr<tarvo_mqtt::Client> client;
  tarvo_mqtt::SdEventDriver driver(loop.get());
  PushTracker tracker(
      store,
      [&client](const std::string& topic, const std::string& payload) {
        return client->Connected() && client->Publish(topic, payload, 1, true);
      },
      std::chrono::seconds(config.pushTimeoutS),
      [&](const std::string& changeId, const PushStation& outcome) {
        broadcast("push:" + changeId, "push",
                  {{"change_id", changeId},
                   {"station", outcome.station},
                   {"rev", outcome.rev},
                   {"outcome", outcome.outcome},
                   {"detail", outcome.detail},
                   {"at", TimeText(outcome.at)}});
      });

  tarvo_mqtt::ClientSettings settings = config.broker;
  // The broker keeps our session: events queue while the service is away.
  settings.cleanSession = false;
  // Stored before acknowledged: a kill between the two makes the broker send it again.
  settings.acknowledgeAfterHandling = true;
  tarvo_mqtt::ClientCallbacks callbacks;
  callbacks.interestChanged = [&driver] { driver.Update(); };
  callbacks.connected = [&] { ServiceLog(LOG_INFO, "connected to the broker " + settings.url); };
  callbacks.disconnected = [&](const std::string& reason) {
    ServiceLog(LOG_WARNING, "broker " + settings.url + ": " + reason + "; trying again");
  };
  callbacks.message = [&](const tarvo_mqtt::Message& message) {
    try {
      ingest.Take(message);
    } catch (const std::exception& error) {
      ServiceLog(LOG_ERR, std::string("cannot store ") + message.topic + ": " + error.what());
    }
    tracker.Take(message);
  };
  client = std::make_unique<tarvo_mqtt::Client>(settings, std::move(callbacks));
  for (tarvo_mqtt::TopicKind kind : {tarvo_mqtt::TopicKind::kStatus, tarvo_mqtt::TopicKind::kReported,
                                     tarvo_mqtt::TopicKind::kEvents, tarvo_mqtt::TopicKind::kDesired})
    client->Subscribe(tarvo_mqtt::EveryStation(kind), 1);
  driver.Attach(*client);

  std::string token;
  if (!config.metricsTokenFile.empty()) {
    token = ReadFile(config.metricsTokenFile, "http.metrics_token_file");
    token = token.substr(0, token.find_first_of("\r\n"));
  }
  OfficeApi api({config, store, ingest, tracker, [&client] { return client->Connected(); }, token});
  HttpSettings http{config.listenAddress, config.listenPort, "", ""};
  if (config.Tls()) {
    http.certPem = ReadFile(config.certFile, "http.cert_file");
    http.keyPem = ReadFile(config.keyFile, "http.key_file");
  }
  HttpServer listening(loop.get(), http, [&api](const HttpRequest& request) {
    return api.Handle(request);
  });
  server = &listening;
  sd_event_source* tick = nullptr;
  uint64_t now = 0;
  sd_event_now(loop.get(), CLOCK_MONOTONIC, &now);
  sd_event_add_time(loop.get(), &tick, CLOCK_MONOTONIC, now + 1'000'000, 100'000, OnTick, &tracker);
  client->Start();
  const std::string where = std::string(config.Tls() ? "https://" : "http://") +
                            config.listenAddress + ":" + std::to_string(listening.Port());
  sd_notify(0, ("READY=1\nSTATUS=serving " + where).c_str());
  ServiceLog(LOG_INFO, "listening on " + where + ", state " + config.stateDir + ", broker " +
                           settings.url);
  const int result = sd_event_loop(loop.get());
  sd_notify(0, "STOPPING=1");
  sd_event_source_unref(tick);
  server = nullptr;
  client->Stop();
  return result < 0 ? 1 : 0;
}

}  // namespace

int RunOffice(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  std::string config = kDefaultConfigPath;
  bool named = false;
  std::vector<std::string> rest;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--version") {
      std::cout << "tarvo-office " << TARVO_VERSION << '\n';
      return 0;
    }
    if (arg == "--config" && i + 1 < argc) {
      config = argv[++i];
      named = true;
    } else {
      rest.push_back(arg);
    }
  }
  try {
    const OfficeConfig loaded = LoadConfig(config, named);
    if (!rest.empty() && rest[0] == "passwd")
      return RunPasswd({rest.begin() + 1, rest.end()}, loaded.usersFile);
    if (!rest.empty()) {
      ServiceLog(LOG_ERR, "tarvo-office: unknown argument \"" + rest[0] + "\"; see --help");
      return 2;
    }
    return Serve(loaded);
  } catch (const std::exception& error) {
    ServiceLog(LOG_ERR, std::string("tarvo-office: ") + error.what());
    return 1;
  }
}

}  // namespace office

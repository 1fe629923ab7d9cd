#include "agent/agent_service.h"

#include <signal.h>
#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-event.h>

#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "agent/agent_config.h"
#include "agent/backup.h"
#include "agent/history_retention.h"
#include "agent/agent_core.h"
#include "agent/agent_log.h"
#include "agent/control_server.h"
#include "agent/fleet_link.h"
#include "agent/state_lock.h"
#include "agent/state_db.h"
#include "station/service_loop.h"

namespace agent {

namespace {

constexpr const char* kUsage =
    "usage: tarvo-agent [--config FILE] [--backup COPY]\n"
    "Keeps the TARVO sign showing the station's desired state: applies changes at their time,\n"
    "verifies the sign every verify_interval_s and repairs drift. Default FILE: /etc/tarvo/agent.toml.\n"
    "Control: tarvo-cli, or one JSON request a line on the socket.\n"
    "--backup COPY: a consistent copy of the state's agent.db in COPY, also while the agent runs; then exit.\n";

struct Arguments {
  std::string config = kDefaultConfigPath;
  bool named = false;
  std::optional<std::string> backup;
};

std::optional<Arguments> ParseArguments(int argc, char** argv) {
  Arguments arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return std::nullopt;
    }
    if (arg == "--version") {
      std::cout << "tarvo-agent " << TARVO_VERSION << '\n';
      return std::nullopt;
    }
    if (arg == "--config" && i + 1 < argc) {
      arguments.config = argv[++i];
      arguments.named = true;
    } else if (arg == "--backup" && i + 1 < argc) {
      arguments.backup = argv[++i];
    } else if (arg.rfind("--backup=", 0) == 0) {
      arguments.backup = arg.substr(9);
    } else if (arg.rfind("--config=", 0) == 0) {
      arguments.config = arg.substr(9);
      arguments.named = true;
    } else {
      throw std::invalid_argument("unknown argument \"" + arg + "\"; see --help");
    }
  }
  return arguments;
}

// Tells the service manager the state after every event and every change of it.
class StatusNotifier final : public AgentObserver {
 public:
  explicit StatusNotifier(const AgentCore& core) : core_(core) {}
  void OnEvent(const Event&) override { OnStatus(); }
  void OnStatus() override { sd_notify(0, ("STATUS=" + core_.StatusLine()).c_str()); }

 private:
  const AgentCore& core_;
};

int Serve(const AgentConfig& config) {
  mkdir(config.stateDir.c_str(), 0750);
  const StateLock lock(config.stateDir);
  StateDb db(config.stateDir + "/agent.db");
  const station::ServiceLoop loop = station::NewServiceLoop();

  AgentCore core(loop.get(), config, db);
  StatusNotifier notifier(core);
  core.AddObserver(&notifier);
  ControlServer server(loop.get(), config, core);
  std::optional<FleetLink> link;
  if (config.mqtt) link.emplace(loop.get(), config, core, db);
  HistoryRetention retention(loop.get(), db, core, config.historyDays);
  core.Start();
  retention.Prune();
  if (link) link->Start();
  sd_notify(0, ("READY=1\nSTATUS=" + core.StatusLine()).c_str());
  Log(LOG_INFO, "station " + config.station + " on port " + config.port + ", socket " + config.socket +
                    ", state " + config.stateDir);
  const int result = sd_event_loop(loop.get());
  sd_notify(0, "STOPPING=1");
  core.Stopping();
  return result < 0 ? 1 : 0;
}

}  // namespace

int RunAgent(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  std::optional<Arguments> arguments;
  try {
    arguments = ParseArguments(argc, argv);
  } catch (const std::exception& error) {
    Log(LOG_ERR, std::string("tarvo-agent: ") + error.what());
    return 2;
  }
  if (!arguments) return 0;
  try {
    const AgentConfig config = LoadConfig(arguments->config, arguments->named);
    if (arguments->backup) {
      BackUpDatabase(config.stateDir + "/agent.db", *arguments->backup);
      std::cout << "tarvo-agent: " << config.stateDir << "/agent.db copied to " << *arguments->backup << '\n';
      return 0;
    }
    return Serve(config);
  } catch (const std::exception& error) {
    Log(LOG_ERR, std::string("tarvo-agent: ") + error.what());
    return 1;
  }
}

}  // namespace agent

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
#include "agent/agent_core.h"
#include "agent/agent_log.h"
#include "agent/control_server.h"
#include "agent/fleet_link.h"
#include "agent/state_lock.h"
#include "agent/state_db.h"

namespace agent {

namespace {

constexpr const char* kUsage =
    "usage: tarvo-agent [--config FILE]\n"
    "Keeps the TARVO sign showing the station's desired state: applies changes at their time,\n"
    "verifies the sign every verify_interval_s and repairs drift. Default FILE: /etc/tarvo/agent.toml.\n"
    "Control: tarvo-cli, or one JSON request a line on the socket.\n";

struct Arguments {
  std::string config = kDefaultConfigPath;
  bool named = false;
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

int OnStopSignal(sd_event_source* source, const signalfd_siginfo*, void*) {
  sd_event_exit(sd_event_source_get_event(source), 0);
  return 0;
}

struct LoopDeleter {
  void operator()(sd_event* loop) const { sd_event_unref(loop); }
};

int Serve(const AgentConfig& config) {
  mkdir(config.stateDir.c_str(), 0750);
  const StateLock lock(config.stateDir);
  StateDb db(config.stateDir + "/agent.db");
  sd_event* raw = nullptr;
  if (sd_event_new(&raw) < 0) throw std::runtime_error("cannot make the event loop");
  std::unique_ptr<sd_event, LoopDeleter> loop(raw);
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  sigprocmask(SIG_BLOCK, &stops, nullptr);
  sd_event_add_signal(loop.get(), nullptr, SIGTERM, OnStopSignal, nullptr);
  sd_event_add_signal(loop.get(), nullptr, SIGINT, OnStopSignal, nullptr);
  // Fed by the loop itself: a loop stuck for WatchdogSec gets the service restarted.
  sd_event_set_watchdog(loop.get(), 1);

  AgentCore core(loop.get(), config, db);
  StatusNotifier notifier(core);
  core.AddObserver(&notifier);
  ControlServer server(loop.get(), config, core);
  std::optional<FleetLink> link;
  if (config.mqtt) link.emplace(loop.get(), config, core, db);
  core.Start();
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
    return Serve(LoadConfig(arguments->config, arguments->named));
  } catch (const std::exception& error) {
    Log(LOG_ERR, std::string("tarvo-agent: ") + error.what());
    return 1;
  }
}

}  // namespace agent

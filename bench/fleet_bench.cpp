// tarvo-fleet-bench: N stations, each the agent's own code (its core, its
// head-office link, protocol/'s exchanges) against its own simulated sign on a
// pseudo-terminal at 19200 bit/s, in this process (50 stations a loop),
// one local mosquitto with the package's configuration, the stations over
// TLS as deployed, and tarvo-fleet push as the head office runs it. Prints
// one JSON figure a line.
//
//   tarvo-fleet-bench [--stations N] [--outage-s S]   (default 1000 and 30)
//
// The stations' databases live on /dev/shm when there is one: a thousand
// stations share one disk here, where each would have its own.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/agent_config.h"
#include "agent/agent_core.h"
#include "agent/fleet_link.h"
#include "agent/state_db.h"
#include "mqtt/client.h"
#include "mqtt/poll_loop.h"
#include "mqtt/topics.h"
#include "sim/sign_simulator.h"
#include "tests/support/broker_listener.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/process_cpu.h"
#include "tests/support/mosquitto_broker.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using tarvo::test::CpuSeconds;
using namespace std::chrono_literals;
using tarvo_mqtt::StationState;

constexpr const char* kSpec = "panel0=45.60:95:1";
constexpr int kSignsPerSimulator = 50;
constexpr size_t kStationsPerLoop = 50;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// What the head office sees, with when it saw it.
class Observer {
 public:
  explicit Observer(tarvo_mqtt::ClientSettings settings)
      : listener_(std::move(settings),
                  {tarvo_mqtt::EveryStation(tarvo_mqtt::TopicKind::kReported),
                   tarvo_mqtt::EveryStation(tarvo_mqtt::TopicKind::kStatus)},
                  [this](const tarvo_mqtt::Message& message) { Take(message); }) {}
  struct Seen {
    int64_t session = 0;
    bool online = false;
    Clock::time_point reportedAt;  // the last reported document
    std::optional<int64_t> rev;
    StationState state = StationState::kUnverified;
    Clock::time_point verifiedAt;  // the first report of the current rev verified
  };
  std::map<std::string, Seen> Snapshot() const {
    std::lock_guard lock(mutex_);
    return seen_;
  }

 private:
  void Take(const tarvo_mqtt::Message& message) {
    try {
      TakeDocument(message);
    } catch (const tarvo_mqtt::DocumentError& error) {
      std::fprintf(stdout, "{\"refused\": \"%s\"}\n", error.what());
    }
  }
  void TakeDocument(const tarvo_mqtt::Message& message) {
    const auto topic = tarvo_mqtt::ParseTopic(message.topic);
    if (!topic) return;
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(mutex_);
    Seen& seen = seen_[topic->station];
    if (topic->kind == tarvo_mqtt::TopicKind::kStatus) {
      const tarvo_mqtt::Status status = tarvo_mqtt::ParseStatus(message.payload);
      if (status.session >= seen.session) {
        seen.session = status.session;
        seen.online = status.online;
      }
    } else if (topic->kind == tarvo_mqtt::TopicKind::kReported) {
      const tarvo_mqtt::Reported reported = tarvo_mqtt::ParseReported(message.payload);
      const bool newly = reported.state == StationState::kVerified &&
                         (seen.state != StationState::kVerified || seen.rev != reported.rev);
      if (newly) seen.verifiedAt = now;
      seen.rev = reported.rev;
      seen.state = reported.state;
      seen.reportedAt = now;
    }
  }

  mutable std::mutex mutex_;
  std::map<std::string, Seen> seen_;
  tarvo::test::BrokerListener listener_;  // last: it calls Take until it is gone
};

struct Station {
  std::unique_ptr<agent::StateDb> db;
  std::unique_ptr<agent::AgentCore> core;
  std::unique_ptr<agent::FleetLink> link;
};

// Stations that share one sd-event loop on a thread of their own. sd-event
// runs one source per iteration and asks epoll again each time, so a loop's
// cost per event grows with the sockets ready on it: groups keep that to
// what one station's machine would see many times over, not a thousand.
class StationGroup {
 public:
  explicit StationGroup(std::vector<agent::AgentConfig> configs)
      : stopFd_(eventfd(0, EFD_CLOEXEC)) {
    thread_ = std::thread([this, configs = std::move(configs)] { Run(configs); });
  }
  ~StationGroup() {
    const uint64_t one = 1;
    (void)!write(stopFd_, &one, sizeof one);
    thread_.join();
    close(stopFd_);
  }

 private:
  void Run(const std::vector<agent::AgentConfig>& configs) {
    sd_event* loop = nullptr;
    sd_event_new(&loop);
    sd_event_add_io(
        loop, nullptr, stopFd_, EPOLLIN,
        [](sd_event_source* source, int, uint32_t, void*) {
          return sd_event_exit(sd_event_source_get_event(source), 0);
        },
        nullptr);
    {
      std::vector<Station> stations(configs.size());
      for (size_t i = 0; i < configs.size(); ++i) {
        Station& station = stations[i];
        station.db = std::make_unique<agent::StateDb>(configs[i].stateDir + "/agent.db");
        station.core = std::make_unique<agent::AgentCore>(loop, configs[i], *station.db);
        station.link =
            std::make_unique<agent::FleetLink>(loop, configs[i], *station.core, *station.db);
        station.core->Start();
        station.link->Start();
      }
      sd_event_loop(loop);
    }
    sd_event_unref(loop);
  }

  int stopFd_;
  std::thread thread_;
};

long RssKb(pid_t pid) {
  std::ifstream status("/proc/" + (pid ? std::to_string(pid) : std::string("self")) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

double OwnCpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Print(const std::string& name, double value, const std::string& unit,
           const std::string& goal) {
  std::printf("{\"case\": \"%s\", \"value\": %.6g, \"unit\": \"%s\", \"goal\": \"%s\"}\n",
              name.c_str(), value, unit.c_str(), goal.c_str());
  std::fflush(stdout);
}

// Until done holds or the bound passes; says whether it held. The stations
// run on their own threads meanwhile.
bool WaitUntil(const std::function<bool()>& done, Clock::duration bound) {
  const Clock::time_point end = Clock::now() + bound;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

int Run(int stations, int outageS) {
  rlimit files{1 << 20, 1 << 20};
  if (setrlimit(RLIMIT_NOFILE, &files) != 0) {
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  if (std::filesystem::is_directory("/dev/shm")) setenv("TMPDIR", "/dev/shm", 1);
  tarvo::test::HermeticEnv env;
  std::vector<std::string> ids;
  std::vector<tarvo::test::MosquittoBroker::Account> accounts = {{"head-office", "ho"}};
  for (int i = 0; i < stations; ++i) {
    char id[16];
    std::snprintf(id, sizeof id, "S%04d", i + 1);
    ids.push_back(id);
    accounts.push_back({id, std::string("pw-") + id});
  }
  std::filesystem::create_directories(env.Root() + "/broker");
  tarvo::test::MosquittoBroker broker(env.Root() + "/broker", accounts);
  broker.Start();

  // A simulator's one thread serves its signs by polling all of them: in
  // groups, the signs of a group wait only on each other.
  std::vector<std::unique_ptr<sign_sim::SignSimulator>> sims;
  for (int i = 0; i < stations; ++i) {
    if (i % kSignsPerSimulator == 0)
      sims.push_back(std::make_unique<sign_sim::SignSimulator>(env.ComDir()));
    sims.back()->AddSign("COM" + std::to_string(100 + i)).SetLineRate(19200);
  }
  for (auto& sim : sims) sim->Start();

  // The agents' journal lines go to a file: a thousand stations talk a lot.
  const int log =
      open((env.Root() + "/stations.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const int stderrCopy = dup(2);
  dup2(log, 2);

  const long baseRss = RssKb(0);
  std::vector<std::unique_ptr<StationGroup>> groups;
  std::vector<agent::AgentConfig> group;
  for (int i = 0; i < stations; ++i) {
    agent::AgentConfig config;
    config.station = ids[i];
    config.port = "COM" + std::to_string(100 + i);
    config.stateDir = env.StateDir() + "/" + ids[i];
    std::filesystem::create_directories(config.stateDir);
    tarvo_mqtt::ClientSettings mqtt;
    mqtt.url = broker.TlsUrl();
    mqtt.caFile = broker.CaFile();
    mqtt.username = ids[i];
    mqtt.passwordFile = broker.PasswordFile(ids[i]);
    config.mqtt = mqtt;
    group.push_back(config);
    if (group.size() == kStationsPerLoop || i + 1 == stations) {
      groups.push_back(std::make_unique<StationGroup>(std::move(group)));
      group.clear();
    }
  }
  tarvo_mqtt::ClientSettings office;
  office.url = broker.Url();
  office.username = "head-office";
  office.passwordFile = broker.PasswordFile("head-office");
  Observer observer(office);
  const auto all = [&](const std::function<bool(const Observer::Seen&)>& holds) {
    const auto seen = observer.Snapshot();
    if (seen.size() < ids.size()) return false;
    return std::all_of(seen.begin(), seen.end(),
                       [&](const auto& entry) { return holds(entry.second); });
  };
  int failures = 0;
  const auto check = [&](bool held, const char* what) {
    if (!held) {
      dprintf(stderrCopy, "tarvo-fleet-bench: %s\n", what);
      ++failures;
    }
    return held;
  };
  if (!check(WaitUntil(
                 [&] {
                   return all([](const auto& s) {
                     return s.online && s.reportedAt != Clock::time_point{};
                   });
                 },
                 300s),
             "not every station came online"))
    return 1;

  // One push to every station, as the head office runs it.
  const double ownCpu = OwnCpuSeconds(RUSAGE_SELF);
  const double childCpu = OwnCpuSeconds(RUSAGE_CHILDREN);
  const double brokerCpu = CpuSeconds(broker.Pid());
  std::vector<std::string> line = {TARVO_FLEET_PROGRAM,
                                   "--broker",
                                   broker.Url(),
                                   "--username",
                                   "head-office",
                                   "--password-file",
                                   broker.PasswordFile("head-office"),
                                   "push",
                                   "--all",
                                   kSpec,
                                   "--timeout",
                                   "120",
                                   "--json"};
  std::vector<char*> argv;
  for (std::string& part : line) argv.push_back(part.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, stderrCopy, 2);
  pid_t push = 0;
  const Clock::time_point pushed = Clock::now();
  posix_spawn(&push, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int pushStatus = -1;
  WaitUntil([&] { return waitpid(push, &pushStatus, WNOHANG) == push; }, 180s);
  check(WIFEXITED(pushStatus) && WEXITSTATUS(pushStatus) == 0,
        "tarvo-fleet push did not see every station confirm");
  std::vector<double> latencies;
  for (const auto& [id, seen] : observer.Snapshot())
    if (seen.state == StationState::kVerified && seen.rev && seen.verifiedAt > pushed)
      latencies.push_back(
          std::chrono::duration<double, std::milli>(seen.verifiedAt - pushed).count());
  check(latencies.size() == ids.size(), "not every station reported the push verified");
  std::sort(latencies.begin(), latencies.end());
  const auto percentile = [&](double p) {
    return latencies.empty()
               ? 0.0
               : latencies[static_cast<size_t>(p / 100.0 * (latencies.size() - 1) + 0.5)];
  };
  const double cpu = (OwnCpuSeconds(RUSAGE_SELF) - ownCpu) +
                     (OwnCpuSeconds(RUSAGE_CHILDREN) - childCpu) +
                     (CpuSeconds(broker.Pid()) - brokerCpu);
  const double stationsKb = static_cast<double>(RssKb(0) - baseRss);
  const double brokerKb = static_cast<double>(RssKb(broker.Pid()));

  // The broker killed and started again: until every station is online in a
  // new session and has published reported again.
  const auto before = observer.Snapshot();
  const Clock::time_point killed = Clock::now();
  broker.Kill();
  broker.Start();
  const bool back = WaitUntil(
      [&] {
        const auto seen = observer.Snapshot();
        return std::all_of(seen.begin(), seen.end(), [&](const auto& entry) {
          return entry.second.online && entry.second.session > before.at(entry.first).session &&
                 entry.second.reportedAt > killed;
        });
      },
      120s);
  check(back, "not every station came back after the broker's restart");
  const double reconnect = Seconds(Clock::now() - killed);

  // Stopped 5 s, then started: from the start until every station is online
  // in a new session with its reported published again.
  const auto backAfter = [&](const std::map<std::string, Observer::Seen>& earlier,
                             Clock::time_point since) {
    return WaitUntil(
        [&] {
          const auto seen = observer.Snapshot();
          return std::all_of(seen.begin(), seen.end(), [&](const auto& entry) {
            return entry.second.online &&
                   entry.second.session > earlier.at(entry.first).session &&
                   entry.second.reportedAt > since;
          });
        },
        180s);
  };
  const auto beforeOutage = observer.Snapshot();
  broker.Stop();
  std::this_thread::sleep_for(5s);
  const Clock::time_point started = Clock::now();
  broker.Start();
  check(backAfter(beforeOutage, started), "not every station came back after a 5 s outage");
  const double tlsReconnect = Seconds(Clock::now() - started);

  // The stations' CPU while the broker is away: they wait for their next
  // retry asleep. (The signs' verifications go on, as they would.)
  const auto beforeLong = observer.Snapshot();
  broker.Stop();
  const double outageCpu = OwnCpuSeconds(RUSAGE_SELF);
  const Clock::time_point outageStart = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(outageS));
  const double outageCpuPercent = (OwnCpuSeconds(RUSAGE_SELF) - outageCpu) /
                                  Seconds(Clock::now() - outageStart) * 100.0 / stations;
  const Clock::time_point restarted = Clock::now();
  broker.Start();
  check(backAfter(beforeLong, restarted), "not every station came back after the long outage");

  dup2(stderrCopy, 2);
  const std::string n = std::to_string(stations);
  Print("fleet.push_p50_ms", percentile(50), "ms", "N=" + n);
  Print("fleet.push_p99_ms", percentile(99), "ms", "<= 3000");
  Print("fleet.push_last_ms", latencies.empty() ? 0.0 : latencies.back(), "ms", "N=" + n);
  Print("fleet.reconnect_s", reconnect, "s", "<= 10");
  Print("fleet.tls_reconnect_s", tlsReconnect, "s", "<= 15");
  Print("fleet.outage_cpu_percent", outageCpuPercent, "%", "< 0.1 per station over " +
                                                                 std::to_string(outageS) + " s");
  Print("fleet.broker_kb_per_station", brokerKb / stations, "KiB", "N=" + n);
  Print("fleet.stations_kb_per_station", stationsKb / stations, "KiB", "N=" + n);
  Print("fleet.cpu_s_per_change", cpu / stations, "s", "N=" + n);
  groups.clear();
  for (auto& sim : sims) sim->Stop();
  broker.Stop();
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  int stations = 1000;
  int outageS = 30;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--stations" && i + 1 < argc) {
      stations = std::atoi(argv[++i]);
    } else if (arg == "--outage-s" && i + 1 < argc) {
      outageS = std::atoi(argv[++i]);
    } else if (arg != "--json") {
      std::fprintf(stderr, "usage: tarvo-fleet-bench [--stations N] [--outage-s S] [--json]\n");
      return 2;
    }
  }
  if (stations < 1 || outageS < 1) {
    std::fprintf(stderr, "tarvo-fleet-bench: --stations and --outage-s must be 1 or more\n");
    return 2;
  }
  try {
    return Run(stations, outageS);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tarvo-fleet-bench: %s\n", error.what());
    return 1;
  }
}

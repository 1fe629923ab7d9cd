// tarvo-office-bench: the head office's service as a process against one
// local mosquitto with the package's configuration, and N synthetic stations
// (own accounts, the fleet's real documents) that publish status, a verified
// read-back and bursts of events, and confirm pushes at once. Prints one JSON
// figure a line.
//
//   tarvo-office-bench [--stations N] [--events-per-station E] [--no-browser]
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mqtt/client.h"
#include "mqtt/documents.h"
#include "mqtt/poll_loop.h"
#include "mqtt/topics.h"
#include "office/sqlite_statement.h"
#include "station/panel_request.h"
#include "tests/office/office_process.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/process_cpu.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace tarvo_mqtt;
using nlohmann::json;
using tarvo::test::Http;

constexpr size_t kStationsPerLoop = 100;
// What an agent records in a day: a verification every 300 s, a few more.
constexpr double kEventsPerStationDay = 300;

void Print(const std::string& name, double value, const std::string& unit, const std::string& goal) {
  std::printf("{\"name\": \"%s\", \"value\": %.3f, \"unit\": \"%s\", \"goal\": \"%s\"}\n",
              name.c_str(), value, unit.c_str(), goal.c_str());
  std::fflush(stdout);
}

double Percentile(std::vector<double> samples, double percent) {
  std::sort(samples.begin(), samples.end());
  if (samples.empty()) return 0;
  const size_t index = std::min(samples.size() - 1,
                                static_cast<size_t>(percent / 100.0 * static_cast<double>(samples.size())));
  return samples[index];
}

Reported Verified(int64_t rev, const std::string& changeId, std::vector<station::PanelRequest> panels) {
  Reported reported;
  if (rev > 0) {
    reported.rev = rev;
    reported.changeId = changeId;
  }
  reported.state = StationState::kVerified;
  reported.panels = std::move(panels);
  reported.verifiedAt = station::WallNow();
  reported.lastVerification = Verification{*reported.verifiedAt, true};
  reported.version = "bench";
  reported.bootId = "bench-boot";
  return reported;
}

// A loop of stations on a thread of its own.
class StationLoop {
 public:
  StationLoop(const std::vector<std::string>& ids, const tarvo::test::MosquittoBroker& broker) {
    for (const std::string& id : ids) {
      auto station = std::make_unique<Station>();
      station->id = id;
      ClientSettings settings;
      settings.url = broker.Url();
      settings.clientId = id;
      settings.username = id;
      settings.passwordFile = broker.PasswordFile(id);
      Station* self = station.get();
      station->client = std::make_unique<Client>(
          settings, ClientCallbacks{
                        .connected =
                            [self] {
                              self->client->Publish(Topic(self->id, TopicKind::kStatus),
                                                    Serialise(Status{true, NextSession(0)}), 1, true);
                              self->client->Publish(
                                  Topic(self->id, TopicKind::kReported),
                                  Serialise(Verified(0, "", station::ParseSpecs({"row1=45.60:95:1",
                                                                                 "row2=52.40:92:0"}))),
                                  1, true);
                              self->connected = true;
                            },
                        .disconnected = nullptr,
                        .message =
                            [self](const Message& message) {
                              const Desired desired = ParseDesired(message.payload);
                              self->client->Publish(
                                  Topic(self->id, TopicKind::kReported),
                                  Serialise(Verified(desired.rev, desired.changeId, desired.panels)),
                                  1, true);
                            },
                        .will = nullptr,
                        .interestChanged = nullptr});
      station->client->Subscribe(Topic(id, TopicKind::kDesired), 1);
      loop_.Add(*station->client);
      stations_.push_back(std::move(station));
    }
    thread_ = std::thread([this] { Run(); });
  }
  ~StationLoop() {
    stop_ = true;
    thread_.join();
  }
  bool Connected() const {
    for (const auto& station : stations_)
      if (!station->connected) return false;
    return true;
  }
  void Burst(int events) { burst_ = events; }
  bool Sent() const { return burst_ == 0; }

 private:
  struct Station {
    std::string id;
    std::unique_ptr<Client> client;
    std::atomic<bool> connected{false};
  };
  void Run() {
    for (auto& station : stations_) station->client->Start();
    int64_t seq = 0;
    while (!stop_) {
      loop_.RunOnce(5ms);
      const int events = burst_;
      if (events == 0) continue;
      const WallTime now = station::WallNow();
      for (int i = 0; i < events; ++i) {
        ++seq;
        for (auto& station : stations_)
          station->client->Publish(
              Topic(station->id, TopicKind::kEvents),
              Serialise(Event{"bench-boot", seq, now, "verification-ok", "all ten panels verified", 1}),
              1, false);
        loop_.RunOnce(0ms);
      }
      burst_ = 0;
    }
    for (auto& station : stations_) station->client->Stop();
  }
  std::vector<std::unique_ptr<Station>> stations_;
  PollLoop loop_;
  std::atomic<bool> stop_{false};
  std::atomic<int> burst_{0};
  std::thread thread_;
};

int64_t Metric(int port, const std::string& name) {
  const std::string body = Http(port, "GET", "/metrics").body;
  const size_t at = body.find("\n" + name + " ");
  return at == std::string::npos ? -1 : std::stoll(body.substr(at + name.size() + 2));
}

// The database's size with its write-ahead log folded in.
int64_t DatabaseSize(const std::string& path) {
  office::Database db(path);
  db.Execute("PRAGMA wal_checkpoint(TRUNCATE)");
  office::Statement pages(db, "SELECT page_count * page_size FROM pragma_page_count(), pragma_page_size()");
  pages.Step();
  return pages.Integer(0);
}

}  // namespace

int main(int argc, char** argv) {
  int stations = 1000;
  int eventsPerStation = 20;
  bool browser = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--stations" && i + 1 < argc) stations = std::stoi(argv[++i]);
    else if (arg == "--events-per-station" && i + 1 < argc) eventsPerStation = std::stoi(argv[++i]);
    else if (arg == "--no-browser") browser = false;
    else {
      std::fprintf(stderr, "usage: tarvo-office-bench [--stations N] [--events-per-station E] [--no-browser]\n");
      return 2;
    }
  }
  tarvo::test::HermeticEnv env;
  std::vector<tarvo::test::MosquittoBroker::Account> accounts = {{"head-office", "ho"}};
  std::vector<std::string> ids;
  for (int i = 0; i < stations; ++i) {
    char id[16];
    std::snprintf(id, sizeof id, "st-%04d", i);
    ids.push_back(id);
    accounts.push_back({id, "pw"});
  }
  tarvo::test::MosquittoBroker broker(env.Root(), accounts);
  broker.Start();
  tarvo::test::OfficeProcess office(broker, env.Root());
  office.AddUser("bench", "pricing", "bench-pass");
  office.Start();
  const std::vector<std::string> session = office.Login("bench", "bench-pass");

  std::vector<std::unique_ptr<StationLoop>> loops;
  for (size_t i = 0; i < ids.size(); i += kStationsPerLoop)
    loops.push_back(std::make_unique<StationLoop>(
        std::vector<std::string>(ids.begin() + static_cast<long>(i),
                                 ids.begin() + static_cast<long>(std::min(ids.size(), i + kStationsPerLoop))),
        broker));
  const auto all = [&](auto check) {
    return std::all_of(loops.begin(), loops.end(), [&](const auto& loop) { return check(*loop); });
  };
  tarvo::test::WaitFor([&] { return all([](const StationLoop& l) { return l.Connected(); }); }, 120s);
  tarvo::test::WaitFor([&] { return office.Get(session, "/api/v1/stations").size() == ids.size(); }, 120s);

  // Ingest: every station's burst at once; the figure is what the office keeps up with.
  const std::string db = office.Folder() + "/state/office.db";
  const int64_t total = static_cast<int64_t>(stations) * eventsPerStation;
  const int64_t sizeBefore = DatabaseSize(db);
  const double cpuBefore = tarvo::test::CpuSeconds(office.Pid());
  const auto start = Clock::now();
  for (auto& loop : loops) loop->Burst(eventsPerStation);
  // Asked ten times a second: the question must not cost the office what it measures.
  while (Metric(office.Port(), "tarvo_office_ingest_events_total") < total &&
         Clock::now() - start < 600s)
    std::this_thread::sleep_for(100ms);
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = tarvo::test::CpuSeconds(office.Pid()) - cpuBefore;
  Print("office.ingest_events_per_s", static_cast<double>(total) / elapsed, "events/s", ">= 2000");
  Print("office.ingest_cpu_us_per_event", cpu * 1e6 / static_cast<double>(total), "us", "");
  const int64_t sizeAfter = DatabaseSize(db);
  Print("office.db_bytes_per_station_day",
        static_cast<double>(sizeAfter - sizeBefore) / static_cast<double>(total) * kEventsPerStationDay,
        "bytes", "300 events a station-day");

  std::vector<double> api;
  for (int i = 0; i < 100; ++i) {
    const auto begin = Clock::now();
    Http(office.Port(), "GET", "/api/v1/stations", session);
    api.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
  }
  Print("office.stations_api_p99_ms", Percentile(api, 99), "ms", "<= 50");

  std::vector<double> confirmations;
  for (int round = 0; round < 3; ++round) {
    const tarvo::test::HttpAnswer created =
        Http(office.Port(), "POST", "/api/v1/pushes", session,
             json{{"specs", {"row1=4" + std::to_string(6 + round) + ".10:95"}}, {"stations", ids}}.dump());
    const std::string id = json::parse(created.body)["change_id"];
    // Asked ten times a second, as for ingest; the times are the office's own.
    json push;
    const auto waiting = [&] {
      push = office.Get(session, "/api/v1/pushes/" + id);
      for (const json& station : push["stations"])
        if (station["outcome"] == "waiting") return true;
      return false;
    };
    for (const auto begin = Clock::now(); waiting() && Clock::now() - begin < 120s;)
      std::this_thread::sleep_for(100ms);
    const double created_ms = static_cast<double>(
        std::chrono::duration_cast<std::chrono::milliseconds>(
            station::ParseRfc3339(push["created_at"].get<std::string>())->time_since_epoch()).count());
    for (const json& station : push["stations"])
      if (station["outcome"] == "confirmed")
        confirmations.push_back(static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(
            station::ParseRfc3339(station["at"].get<std::string>())->time_since_epoch()).count()) - created_ms);
  }
  Print("office.push_all_p99_ms", Percentile(confirmations, 99), "ms", "<= 3000");
  Print("office.push_all_confirmed", static_cast<double>(confirmations.size()) / 3, "stations",
        std::to_string(stations));

  if (browser && std::filesystem::exists("/usr/bin/chromedriver")) {
    const tarvo::test::ProcessResult page = tarvo::test::ChildProcess(
        {"/usr/bin/python3", TARVO_OFFICE_PAGE_READY, "http://127.0.0.1:" + std::to_string(office.Port()),
         "bench:bench-pass", std::to_string(stations), "5"}).Finish();
    std::vector<double> runs;
    std::istringstream lines(page.out);
    for (double ms; lines >> ms;) runs.push_back(ms);
    if (runs.empty()) std::fprintf(stderr, "page_ready failed: %s\n", page.err.c_str());
    else Print("office.page_ready_ms", Percentile(runs, 50), "ms (median of 5)", "<= 1000");
  }
  loops.clear();
  return 0;
}

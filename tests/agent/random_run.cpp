#include "tests/agent/random_run.h"

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>

#include "serial/CPort.h"
#include "sim/sign_simulator.h"
#include "station/panel_request.h"
#include "station/utc_instant.h"
#include "tests/agent/agent_model.h"
#include "tests/agent/agent_process.h"
#include "tests/agent/small_disk.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/wait_for.h"

namespace tarvo::test {

namespace {

using nlohmann::json;
using sign_link::PanelRecord;

constexpr int kReplyBoundMs = 40000;
constexpr int kVerifyIntervalS = 1;
const char* const kGrades[] = {"80", "92", "95", "98", "ДТ"};

std::optional<uint8_t> AddressOfChar(char c) {
  for (uint8_t address : {0, 1, 2, 3, 4, 8, 9, 10, 11, 12})
    if (sign_link::AddressChar(address) == c) return address;
  return std::nullopt;
}

// One station: the sign, the agent on it and the faults that come and go.
class Station {
 public:
  explicit Station(AgentModel& model) : model_(model), sim_(env_.ComDir()), sign_(sim_.AddSign("COM3")) {
    sim_.SetTranscript([&model](const sign_sim::TranscriptLine& line) {
      if (line.direction != sign_sim::Direction::kSent || line.bytes.size() < 8 || line.bytes[0] != 'T') return;
      const std::optional<uint8_t> address = AddressOfChar(line.bytes[1]);
      if (!address) return;
      const int64_t at =
          std::chrono::duration_cast<std::chrono::milliseconds>(line.when.time_since_epoch()).count();
      model.SignSaid(at, *address, {line.bytes.substr(2, 4), line.bytes[6], line.bytes[7]});
    });
    disk_ = std::make_unique<SmallDisk>(env_.Root() + "/agent-state");
    sim_.Start();
    agent_ = std::make_unique<AgentProcess>(env_.Root(), AgentSetup{.verifyIntervalS = kVerifyIntervalS});
    agent_->Start();
  }
  ~Station() {
    for (std::thread& client : clients_) client.join();
    agent_.reset();
  }

  AgentProcess& Agent() { return *agent_; }
  sign_sim::SimSign& Sign() { return sign_; }
  SmallDisk& Disk() { return *disk_; }

  // A client of its own, as concurrent as the sequence makes it.
  void Ask(AskedChange asked, json request) {
    asked.sentMs = NowMs();
    asked.killsAtSend = model_.Kills();
    clients_.emplace_back([this, asked, request] {
      const int fd = ConnectUnix(agent_->Socket());
      const std::string reply = fd < 0 ? "" : Exchange(fd, request.dump() + "\n", kReplyBoundMs);
      if (fd >= 0) close(fd);
      model_.Answered(asked, reply, NowMs());
    });
  }
  void Kill() {
    model_.Killed();
    agent_->Kill9();
    EndExclusiveHold(sign_.TerminalPath());
    agent_->Start();
  }
  void HoldPort(bool hold) {
    if (!hold) {
      held_.reset();
      return;
    }
    held_ = std::make_unique<TComPort>();
    held_->SetPort("COM3");
    held_->SetEvents({});
    try {
      held_->OpenPort();
    } catch (const std::exception&) {
      held_.reset();  // the agent holds it this moment
    }
  }
  bool Holding() const { return held_ != nullptr; }
  void JoinClients() {
    for (std::thread& client : clients_) client.join();
    clients_.clear();
  }

 private:
  AgentModel& model_;
  HermeticEnv env_;
  sign_sim::SignSimulator sim_;
  sign_sim::SimSign& sign_;
  std::unique_ptr<SmallDisk> disk_;
  std::unique_ptr<AgentProcess> agent_;
  std::unique_ptr<TComPort> held_;
  std::vector<std::thread> clients_;
};

class Sequence {
 public:
  Sequence(uint64_t seed, RandomRun& run) : random_(seed), run_(run), station_(model_) {}

  void Step() {
    switch (Pick(14)) {
      case 0: case 1: case 2: case 3: return WriteNow();
      case 4: case 5: case 6: return WriteAt();
      case 7: return Cancel();
      case 8: return Direct();
      case 9: return Kill();
      case 10: return Toggle("disk full", diskFull_, [this](bool on) { on ? station_.Disk().Fill() : station_.Disk().Free(); });
      case 11: return Toggle("port held", portHeld_, [this](bool on) { station_.HoldPort(on); });
      case 12: return Toggle("slow sign", slow_, [this](bool on) {
        station_.Sign().UpdateFaults([on](sign_sim::SignFaults& f) { f.answerDelayMs = on ? 30 : 0; });
      });
      default: return Toggle("wrong panel", wrongPanel_, [this](bool on) {
        station_.Sign().UpdateFaults([on](sign_sim::SignFaults& f) { f.answerForAnotherPanel = on; });
      });
    }
  }
  void Pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(Pick(300)));
    model_.StatusSeen(station_.Agent().Request({{"op", "status"}}));
  }

  // The faults end; every client is answered; the sign comes to the state.
  void Settle() {
    Note("faults end");
    station_.Disk().Free();
    station_.HoldPort(false);
    station_.Sign().UpdateFaults([](sign_sim::SignFaults& f) { f = {}; });
    station_.JoinClients();
    AgentProcess& agent = station_.Agent();
    if (!WaitFor([&] { return agent.Request({{"op", "schedule"}})["pending"].empty(); }, std::chrono::seconds(30)))
      model_.Violation("scheduled changes still pending long after their time");
    model_.StatusSeen(agent.Request({{"op", "status"}}));
    // What took effect while the disk was full is stored with the agent's
    // next transaction: the history is read once it has the current revision.
    const auto stored = [&] {
      const json status = agent.Request({{"op", "status"}});
      for (const json& event : agent.Events())
        if (event["rev"] == status["rev"] && event["kind"].get<std::string>().rfind("change ", 0) == 0) return true;
      return status["rev"] == 0;
    };
    if (!WaitFor(stored, std::chrono::seconds(70))) model_.Violation("the current revision never reached the history");
    // 5: within an interval (and the port's backoff after the faults), the sign shows the state.
    const SignPanelsWanted wanted = model_.CheckHistory(agent.Events());
    const auto shows = [&] {
      for (const auto& [address, record] : wanted)
        if (station_.Sign().Panel(address) != record) return false;
      return true;
    };
    if (!WaitFor(shows, std::chrono::seconds(kVerifyIntervalS + 70))) {
      std::string what = "the sign did not come to the state:";
      for (const auto& [address, record] : wanted)
        what += " " + std::to_string(address) + "=" + record.price + record.grade + record.inscription + "/" +
                station_.Sign().Panel(address).price;
      const std::string log = agent.Log();
      model_.Violation(what + "\n  the agent's log ends:\n" + log.substr(log.size() > 6000 ? log.size() - 6000 : 0));
    }
    model_.StatusSeen(agent.Request({{"op", "status"}}));
    run_.violations = model_.Violations();
  }

 private:
  int Pick(int n) { return static_cast<int>(random_() % static_cast<uint64_t>(n)); }
  void Note(const std::string& step) { run_.steps.push_back(step); }

  AskedChange NewChange(std::vector<std::string>& specs) {
    AskedChange asked;
    char price[8];
    ++prices_;
    std::snprintf(price, sizeof price, "%02d.%02d", prices_ / 100 % 100, prices_ % 100);
    asked.price = std::string(price, 2) + std::string(price + 3, 2);
    const int first = 1 + Pick(5);
    const int rows = 1 + Pick(2);
    for (int row = first; row < first + rows && row <= 5; ++row) {
      const char* grade = kGrades[Pick(5)];
      const int inscription = Pick(4);
      specs.push_back("row" + std::to_string(row) + "=" + price + ":" + grade + ":" + std::to_string(inscription));
      const PanelRecord record{asked.price, *station::GradeCode(grade), static_cast<char>('0' + inscription)};
      // Entry row R is panel 5 - R of each half.
      asked.panels[static_cast<uint8_t>(5 - row)] = record;
      asked.panels[static_cast<uint8_t>(13 - row)] = record;
    }
    return asked;
  }

  void WriteNow() {
    std::vector<std::string> specs;
    AskedChange asked = NewChange(specs);
    Note("write " + specs[0] + (specs.size() > 1 ? " " + specs[1] : ""));
    station_.Ask(asked, {{"op", "write"}, {"specs", specs}});
  }
  void WriteAt() {
    std::vector<std::string> specs;
    AskedChange asked = NewChange(specs);
    // In the past, now, within the same second or a little ahead.
    const int64_t offsets[] = {-5000, 0, 300, 900, 1500, 2500};
    asked.effectiveAt = NowMs() + offsets[Pick(6)];
    const std::string at = station::FormatInstant(*asked.effectiveAt);
    Note("write " + specs[0] + (specs.size() > 1 ? " " + specs[1] : "") + " at " + at);
    json request = {{"op", "write"}, {"specs", specs}, {"effective_at", at}};
    // The reply gives the id a cancel needs.
    const int fd = ConnectUnix(station_.Agent().Socket());
    asked.sentMs = NowMs();
    asked.killsAtSend = model_.Kills();
    const std::string reply = fd < 0 ? "" : Exchange(fd, request.dump() + "\n", kReplyBoundMs);
    if (fd >= 0) close(fd);
    model_.Answered(asked, reply, NowMs());
    const json document = json::parse(reply, nullptr, false);
    if (document.is_object() && document.value("scheduled", false)) scheduled_.push_back(document["id"]);
  }
  void Cancel() {
    if (scheduled_.empty()) return Note("cancel (nothing scheduled)");
    const std::string id = scheduled_[static_cast<size_t>(Pick(static_cast<int>(scheduled_.size())))];
    Note("cancel " + id);
    const int fd = ConnectUnix(station_.Agent().Socket());
    const std::string reply = fd < 0 ? "" : Exchange(fd, json({{"op", "cancel"}, {"id", id}}).dump() + "\n");
    if (fd >= 0) close(fd);
    model_.Cancelled(id, reply);
  }
  // Another program writes a panel: drift, healed by the agent.
  void Direct() {
    const uint8_t addresses[] = {0, 1, 2, 3, 4, 8, 9, 10, 11, 12};
    const uint8_t address = addresses[Pick(10)];
    Note("direct panel" + std::to_string(address));
    station_.Sign().SetPanel(address, {"----", '0', '0'});
    ++run_.faults;
  }
  void Kill() {
    // An agent cannot start on a full disk; its manager restarts it later, as here.
    if (diskFull_) Toggle("disk full", diskFull_, [this](bool) { station_.Disk().Free(); });
    Note("kill -9");
    ++run_.faults;
    station_.Kill();
  }
  template <typename Apply>
  void Toggle(const char* name, bool& on, Apply apply) {
    on = !on;
    Note(std::string(name) + (on ? " on" : " off"));
    if (on) ++run_.faults;
    apply(on);
  }

  std::mt19937_64 random_;
  RandomRun& run_;
  AgentModel model_;
  Station station_;
  int prices_ = 100 * (1 + static_cast<int>(random_() % 90));
  std::vector<std::string> scheduled_;
  bool diskFull_ = false;
  bool portHeld_ = false;
  bool slow_ = false;
  bool wrongPanel_ = false;
};

}  // namespace

std::string RandomRun::Replay() const {
  std::string text = "seed " + std::to_string(seed) + " (" + std::to_string(stepCount) + " steps):";
  for (const std::string& step : steps) text += " " + step + ";";
  for (const std::string& violation : violations) text += "\n  violation: " + violation;
  return text;
}

RandomRun RunRandomSequence(uint64_t seed, int steps) {
  RandomRun run;
  run.seed = seed;
  run.stepCount = steps;
  try {
    Sequence sequence(seed, run);
    for (int i = 0; i < steps; ++i) {
      sequence.Step();
      sequence.Pause();
    }
    sequence.Settle();
  } catch (const std::exception& error) {
    run.violations.push_back(std::string("the run stopped: ") + error.what());
  }
  return run;
}

}  // namespace tarvo::test

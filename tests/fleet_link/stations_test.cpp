// Stations and their head office end to end: tarvo-agent processes with their
// [mqtt] link on simulated signs, tarvo-fleet, and Debian's mosquitto over TLS
// with the package's ACL.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "sim/sign_simulator.h"
#include "station/panel_request.h"
#include "tests/agent/agent_process.h"
#include "tests/fleet_link/head_office_watch.h"
#include "tests/support/child_process.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/mosquitto_broker.h"
#include "tests/support/wait_for.h"

namespace {

using namespace tarvo::test;
using nlohmann::json;
using tarvo_mqtt::StationState;
using namespace std::chrono_literals;

// What the sign should hold after SPEC (all three fields given).
sign_link::PanelRecord Record(const std::string& spec) {
  const station::PanelRequest request = station::ParseSpecs({spec}).at(0);
  return station::Merged({}, request);
}

struct Station {
  sign_sim::SimSign* sign = nullptr;
  std::unique_ptr<AgentProcess> agent;
};

class StationsTest : public ::testing::Test {
 protected:
  StationsTest()
      : broker_(env_.Root(), {{"head-office", "ho"}, {"S1", "s1"}, {"S2", "s2"}}),
        sim_(env_.ComDir()) {
    broker_.Start();
    for (const auto& [id, port] : {std::pair("S1", "COM3"), std::pair("S2", "COM4")}) {
      Station& station = stations_[id];
      station.sign = &sim_.AddSign(port);
      station.sign->SetLineRate(19200);
      const std::string root = env_.Root() + "/" + id;
      std::filesystem::create_directories(root);
      station.agent = std::make_unique<AgentProcess>(root);
      std::ofstream(station.agent->Config())
          << "station = \"" << id << "\"\nport = \"" << port << "\"\nstate_dir = \"" << root
          << "/state\"\nsocket = \"" << station.agent->Socket() << "\"\nsocket_group = \"root\"\n"
          << "[mqtt]\nurl = \"" << broker_.TlsUrl() << "\"\npassword_file = \""
          << broker_.PasswordFile(id) << "\"\nca_file = \"" << broker_.CaFile()
          << "\"\nkeepalive_s = 5\n";
    }
    sim_.Start();
    watch_ = std::make_unique<HeadOfficeWatch>(HeadOffice());
  }
  tarvo_mqtt::ClientSettings HeadOffice() const {
    tarvo_mqtt::ClientSettings settings;
    settings.url = broker_.TlsUrl();
    settings.username = "head-office";
    settings.passwordFile = broker_.PasswordFile("head-office");
    settings.caFile = broker_.CaFile();
    // Back on the broker well before any agent after an outage, so that it
    // hears what they send on coming back.
    settings.firstRetry = settings.longestRetry = 100ms;
    return settings;
  }
  void StartAgent(const std::string& id) {
    stations_[id].agent->Start();
    ASSERT_TRUE(WaitFor([&] { return Online(id); }, 20s)) << stations_[id].agent->Log();
  }
  bool Online(const std::string& id) const {
    const auto station = watch_->Station(id);
    return station.status && station.status->online && station.reported;
  }
  ProcessResult Fleet(const std::vector<std::string>& args) const {
    return ChildProcess(broker_.HeadOfficeLine(TARVO_FLEET_PROGRAM, args)).Finish();
  }
  // A push with --json that every station confirmed: the office rev it carries.
  int64_t Pushed(const std::vector<std::string>& args) const {
    std::vector<std::string> line = args;
    line.insert(line.end(), {"--timeout", "20", "--json"});
    const ProcessResult push = Fleet(line);
    EXPECT_EQ(push.status, 0) << push.out << push.err;
    const json result = json::parse(push.out, nullptr, false);
    if (result.is_discarded() || result["stations"].empty()) return 0;
    return result["stations"][0]["office_rev"].get<int64_t>();
  }
  // Publishes a retained document as `user` (a desired one unless told).
  void PublishAs(const std::string& user, const std::string& station, const std::string& payload,
                 const std::string& kind = "desired") {
    const ProcessResult result =
        ChildProcess({"/usr/bin/mosquitto_pub", "-L",
                      broker_.TlsUrl() + "/tarvo/v1/" + station + "/" + kind, "--cafile",
                      broker_.CaFile(), "-u", user, "-P", user == "head-office" ? "ho" : "s1", "-q",
                      "1", "-r", "-m", payload})
            .Finish();
    ASSERT_EQ(result.status, 0) << result.err;
  }
  bool Logged(const std::string& id, const std::string& words) const {
    return stations_.at(id).agent->Log().find(words) != std::string::npos;
  }
  void MoveAgentClockTo(const std::string& id, std::chrono::system_clock::time_point until) {
    stations_[id].agent->SetClockOffsetMs(
        std::chrono::duration_cast<std::chrono::milliseconds>(until -
                                                              std::chrono::system_clock::now())
            .count());
  }
  size_t Writes(const std::string& id) const {
    size_t frames = 0;
    for (const std::string& message : stations_.at(id).sign->Received())
      frames += message[0] == 'W';
    return frames;
  }
  size_t Events(const std::string& id, const std::string& kind) {
    size_t count = 0;
    for (const json& event : stations_[id].agent->Events()) count += event["kind"] == kind;
    return count;
  }

  HermeticEnv env_;
  MosquittoBroker broker_;
  sign_sim::SignSimulator sim_;
  std::map<std::string, Station> stations_;
  std::unique_ptr<HeadOfficeWatch> watch_;
};

TEST_F(StationsTest, PushIsConfirmedByBothSignsAndReplaysOrMalformedDocumentsReachNoSign) {
  StartAgent("S1");
  StartAgent("S2");
  const int64_t rev =
      Pushed({"push", "--station", "S1", "--station", "S2", "panel0=45.60:95:1"});
  for (const std::string id : {"S1", "S2"})
    EXPECT_EQ(stations_[id].sign->Panel(0), Record("panel0=45.60:95:1"));
  ASSERT_TRUE(WaitFor([&] { return watch_->Reports("S1", rev, StationState::kVerified); }));
  ASSERT_EQ(watch_->Station("S1").reported->panels.size(), 10u);

  // A replay of the office rev with another change, a stale one and a
  // malformed one: each recorded and shown, none reaches the sign.
  const size_t writes = Writes("S1");
  const std::string body =
      R"(,"issuer":"replay","scheduled":[],"brightness":null,"panels":[)"
      R"({"address":0,"row":5,"half":1,"ok":true,"price":"11.11","grade":"92","inscription":1}]})";
  PublishAs("head-office", "S1", R"({"rev":)" + std::to_string(rev) + R"(,"change_id":"same")" + body);
  ASSERT_TRUE(WaitFor([&] { return Events("S1", "desired conflict") == 1; }))
      << stations_["S1"].agent->Log();
  ASSERT_TRUE(WaitFor([&] {
    const auto reported = watch_->Station("S1").reported;
    return reported && reported->refused &&
           *reported->refused == tarvo_mqtt::RefusedPlan{rev, "same", "conflict"};
  }));
  PublishAs("head-office", "S1", R"({"rev":1,"change_id":"old")" + body);
  ASSERT_TRUE(WaitFor([&] { return Events("S1", "desired stale") == 1; }));
  PublishAs("head-office", "S1", R"({"rev":"two","change_id":"bad")" + body);
  ASSERT_TRUE(WaitFor([&] { return Events("S1", "desired rejected") == 1; }));
  EXPECT_EQ(Writes("S1"), writes);
  EXPECT_EQ(stations_["S1"].sign->Panel(0), Record("panel0=45.60:95:1"));
  EXPECT_TRUE(watch_->Reports("S1", rev, StationState::kVerified));
}

TEST_F(StationsTest, LocalChangeIsReportedAsAnOverrideUntilTheHeadOfficesNextRevision) {
  StartAgent("S1");
  const int64_t first = Pushed({"push", "--station", "S1", "panel0=45.60:95:1"});
  const json local =
      stations_["S1"].agent->Request({{"op", "write"}, {"specs", {"panel1=1.11:92:0"}}});
  ASSERT_TRUE(local.value("verified", false)) << local;
  ASSERT_TRUE(WaitFor([&] {
    const auto reported = watch_->Station("S1").reported;
    return reported && reported->localOverride && reported->localOverride->changeId == local["id"];
  }));
  EXPECT_EQ(watch_->Station("S1").reported->rev, first);
  EXPECT_EQ(watch_->Station("S1").reported->localOverride->panels, std::vector<int>{1});
  const int64_t second = Pushed({"push", "--station", "S1", "panel0=45.70:95:1"});
  ASSERT_TRUE(WaitFor([&] { return watch_->Reports("S1", second, StationState::kVerified); }));
  EXPECT_FALSE(watch_->Station("S1").reported->localOverride);
}

TEST_F(StationsTest, StationOfflineDuringThePushTakesItWhenItConnects) {
  StartAgent("S1");
  const ProcessResult push = Fleet({"push", "--new", "--station", "S1", "--station", "S2",
                                    "panel3=3.99:98:0", "--timeout", "5", "--json"});
  EXPECT_EQ(push.status, 1) << push.out << push.err;
  EXPECT_NE(push.out.find("offline"), std::string::npos) << push.out;
  const int64_t rev = json::parse(push.out)["stations"][1]["office_rev"].get<int64_t>();
  StartAgent("S2");
  ASSERT_TRUE(WaitFor([&] { return watch_->Reports("S2", rev, StationState::kVerified); }, 20s));
  EXPECT_EQ(stations_["S2"].sign->Panel(3), Record("panel3=3.99:98:0"))
      << stations_["S2"].agent->Log();
}

TEST_F(StationsTest, StationCannotSetAnotherStationsPrices) {
  StartAgent("S2");
  PublishAs(
      "S1", "S2",
      R"({"rev":5,"change_id":"forged","issuer":"S1","scheduled":[],"brightness":null,)"
      R"("panels":[{"address":0,"row":5,"half":1,"ok":true,"price":"66.66","grade":"92","inscription":1}]})");
  // Had the broker taken it, S2 would have applied 66.66 first.
  Pushed({"push", "--station", "S2", "panel0=45.60:95:1"});
  EXPECT_EQ(Events("S2", "change accepted"), 1u);
  EXPECT_EQ(stations_["S2"].sign->Panel(0), Record("panel0=45.60:95:1"));
}

TEST_F(StationsTest, AgentsComeBackAfterTheBrokerIsKilledAndTakeTheNextPush) {
  StartAgent("S1");
  StartAgent("S2");
  std::map<std::string, int64_t> before;
  for (const std::string id : {"S1", "S2"}) before[id] = watch_->Station(id).status->session;
  broker_.Kill();
  broker_.Start();
  for (const std::string id : {"S1", "S2"})
    ASSERT_TRUE(WaitFor(
        [&] { return Online(id) && watch_->Station(id).status->session > before[id]; }, 30s));
  const ProcessResult push =
      Fleet({"push", "--station", "S1", "--station", "S2", "panel8=2.50:92:2", "--timeout", "20"});
  ASSERT_EQ(push.status, 0) << push.out << push.err;
  EXPECT_EQ(stations_["S1"].sign->Panel(8), Record("panel8=2.50:92:2"));
  EXPECT_EQ(stations_["S2"].sign->Panel(8), Record("panel8=2.50:92:2"));
}

TEST_F(StationsTest, KilledAgentShowsLostThenOnlineAfterItsRestartNeverTheOtherWayRound) {
  StartAgent("S1");
  stations_["S1"].agent->Kill9();
  ASSERT_TRUE(WaitFor([&] { return !watch_->Station("S1").status->online; }));
  const ProcessResult lost = Fleet({"status", "--json"});
  EXPECT_NE(lost.out.find(R"("connection":"lost")"), std::string::npos) << lost.out;
  StartAgent("S1");
  const ProcessResult online = Fleet({"status", "--json"});
  EXPECT_NE(online.out.find(R"("connection":"online")"), std::string::npos) << online.out;
  const std::vector<tarvo_mqtt::Status> statuses = watch_->Statuses("S1");
  ASSERT_GE(statuses.size(), 3u);
  EXPECT_TRUE(statuses[0].online);
  EXPECT_FALSE(statuses[1].online);
  EXPECT_EQ(statuses[1].session, statuses[0].session);
  EXPECT_TRUE(statuses.back().online);
  EXPECT_GT(statuses.back().session, statuses[1].session);
}

TEST_F(StationsTest, ScheduledChangeIsReportedScheduledAndAppliedAtItsTime) {
  StartAgent("S1");
  const int64_t rev =
      Pushed({"push", "--station", "S1", "panel1=9.99:95:0", "--at", "2099-01-01T06:00:00Z"});
  ASSERT_TRUE(WaitFor([&] {
    const auto reported = watch_->Station("S1").reported;
    return reported && reported->state == StationState::kScheduled && reported->pending.size() == 1;
  }));
  EXPECT_NE(stations_["S1"].sign->Panel(1), Record("panel1=9.99:95:0"));
  // The agent's clock moved past the change's time.
  MoveAgentClockTo("S1", std::chrono::sys_days(std::chrono::year(2099) / 1 / 1) + 6h + 1s);
  ASSERT_TRUE(WaitFor([&] { return watch_->Reports("S1", rev, StationState::kVerified); }, 20s));
  EXPECT_TRUE(watch_->Station("S1").reported->pending.empty());
  EXPECT_EQ(stations_["S1"].sign->Panel(1), Record("panel1=9.99:95:0"));
}

// Two pushes while the station is away, then one for tomorrow and a
// correction for today: each push is part of the plan the station takes.
TEST_F(StationsTest, NoPushDropsAnEarlierOneWhetherTheStationWasAwayOrNot) {
  StartAgent("S1");
  ASSERT_EQ(stations_["S1"].agent->Stop(), 0);
  ASSERT_TRUE(WaitFor([&] { return !watch_->Station("S1").status->online; }));
  for (const std::string spec : {"row1=33.33:92:1", "row2=44.44:95:1"})
    EXPECT_EQ(Fleet({"push", "--station", "S1", spec, "--timeout", "1"}).status, 1);
  StartAgent("S1");
  ASSERT_TRUE(WaitFor([&] {
    return stations_["S1"].sign->Panel(4) == Record("panel4=33.33:92:1") &&
           stations_["S1"].sign->Panel(3) == Record("panel3=44.44:95:1");
  }, 20s)) << stations_["S1"].agent->Log();

  Pushed({"push", "--station", "S1", "row1=11.11:92:1", "--at", "2099-01-01T06:00:00Z"});
  const int64_t now = Pushed({"push", "--station", "S1", "row3=22.22:98:1"});
  ASSERT_TRUE(WaitFor([&] {
    const auto reported = watch_->Station("S1").reported;
    return reported && reported->rev == now && reported->pending.size() == 1;
  }));
  EXPECT_EQ(Events("S1", "change cancelled"), 0u);
  MoveAgentClockTo("S1", std::chrono::sys_days(std::chrono::year(2099) / 1 / 1) + 6h + 1s);
  ASSERT_TRUE(WaitFor([&] { return stations_["S1"].sign->Panel(4) == Record("panel4=11.11:92:1"); },
                      20s));
  EXPECT_EQ(stations_["S1"].sign->Panel(2), Record("panel2=22.22:98:1"));
}

// A scheduled change cancelled before its time never reaches the sign. One
// that came due already at the station (its clock ahead) cannot be cancelled
// and is said so; a plan that drops it late has what it wants now written
// back over it.
TEST_F(StationsTest, ACancelledScheduledChangeNeverReachesTheSignAndALateOneSaysSo) {
  StartAgent("S1");
  Pushed({"push", "--station", "S1", "row3=33.33:98:1"});
  const auto scheduled = [this](const std::string& spec, const std::string& at) {
    const ProcessResult push =
        Fleet({"push", "--station", "S1", spec, "--at", at, "--timeout", "20", "--json"});
    EXPECT_EQ(push.status, 0) << push.out << push.err;
    return json::parse(push.out)["change_id"].get<std::string>();
  };
  const std::string early = scheduled("row1=11.11:92:1", "2099-01-01T06:00:00Z");
  const ProcessResult cancel = Fleet({"cancel", early, "--timeout", "20"});
  EXPECT_EQ(cancel.status, 0) << cancel.out << cancel.err;
  EXPECT_NE(cancel.out.find("withdrawn before 2099-01-01T06:00:00"), std::string::npos) << cancel.out;
  // The test's own listener hears the report after tarvo-fleet did.
  EXPECT_TRUE(WaitFor([&] { return watch_->Station("S1").reported->pending.empty(); }));
  const std::string late = scheduled("row3=22.22:98:1", "2099-01-02T06:00:00Z");
  MoveAgentClockTo("S1", std::chrono::sys_days(std::chrono::year(2099) / 1 / 2) + 6h + 1s);
  ASSERT_TRUE(WaitFor([&] { return stations_["S1"].sign->Panel(2) == Record("panel2=22.22:98:1"); },
                      20s)) << stations_["S1"].agent->Log();
  EXPECT_NE(stations_["S1"].sign->Panel(4), Record("panel4=11.11:92:1"));
  ASSERT_TRUE(WaitFor([&] { return watch_->Station("S1").reported->pending.empty(); }));
  const ProcessResult tooLate = Fleet({"cancel", late, "--station", "S1", "--timeout", "20"});
  EXPECT_EQ(tooLate.status, 1) << tooLate.out;
  EXPECT_NE(tooLate.out.find("no longer waits at the station"), std::string::npos) << tooLate.out;

  tarvo_mqtt::Desired plan = *watch_->Station("S1").desired;
  ASSERT_EQ(plan.scheduled.size(), 1u);
  plan.scheduled.clear();
  plan.rev += 1;
  plan.changeId = "withdrawn-late";
  PublishAs("head-office", "S1", tarvo_mqtt::Serialise(plan));
  EXPECT_TRUE(WaitFor([&] { return stations_["S1"].sign->Panel(2) == Record("panel2=33.33:98:1"); },
                      20s)) << stations_["S1"].agent->Log();
}

// The broker lost its retained state (killed before it saved it) while the
// station was away: the next push still numbers above what the station holds.
TEST_F(StationsTest, ABrokerThatLostItsStateCannotMakeAPushReuseARevision) {
  StartAgent("S1");
  const int64_t first = Pushed({"push", "--station", "S1", "row1=33.33:92:1"});
  ASSERT_EQ(stations_["S1"].agent->Stop(), 0);
  broker_.Kill();
  std::filesystem::remove_all(env_.Root() + "/mosquitto.db");
  broker_.Start();
  const ProcessResult push =
      Fleet({"push", "--new", "--station", "S1", "row1=44.44:92:1", "--timeout", "1", "--json"});
  EXPECT_GT(json::parse(push.out)["stations"][0]["office_rev"].get<int64_t>(), first) << push.out;
  StartAgent("S1");
  ASSERT_TRUE(WaitFor([&] { return stations_["S1"].sign->Panel(4) == Record("panel4=44.44:92:1"); },
                      20s)) << stations_["S1"].agent->Log();
}

TEST_F(StationsTest, TwoPushesAtOnceBothReachTheSignOrOneSaysItWasReplaced) {
  StartAgent("S1");
  ChildProcess one(broker_.HeadOfficeLine(TARVO_FLEET_PROGRAM,
                                          {"push", "--station", "S1", "row1=11.11:92:1", "--timeout", "20"}));
  ChildProcess two(broker_.HeadOfficeLine(TARVO_FLEET_PROGRAM,
                                          {"push", "--station", "S1", "row2=22.22:92:1", "--timeout", "20"}));
  const ProcessResult first = one.Finish();
  const ProcessResult second = two.Finish();
  EXPECT_EQ(first.status, 0) << first.out << first.err;
  EXPECT_EQ(second.status, 0) << second.out << second.err;
  EXPECT_EQ(stations_["S1"].sign->Panel(4), Record("panel4=11.11:92:1"));
  EXPECT_EQ(stations_["S1"].sign->Panel(3), Record("panel3=22.22:92:1"));
}

// A TLS station through an outage longer than its first retries: it comes
// back by itself, and what it recorded meanwhile reaches the head office.
TEST_F(StationsTest, ATlsStationComesBackAfterAnOutageAndSendsWhatItRecordedMeanwhile) {
  StartAgent("S1");
  const int64_t before = watch_->Station("S1").status->session;
  broker_.Stop();
  ASSERT_TRUE(WaitFor([&] { return Logged("S1", "connection refused"); }, 20s))
      << stations_["S1"].agent->Log();
  const json local =
      stations_["S1"].agent->Request({{"op", "write"}, {"specs", {"panel1=1.11:92:0"}}});
  ASSERT_TRUE(local.value("ok", false)) << local;
  broker_.Start();
  ASSERT_TRUE(
      WaitFor([&] { return Online("S1") && watch_->Station("S1").status->session > before; }, 40s));
  ASSERT_TRUE(WaitFor([&] {
    const auto kinds = watch_->EventKinds("S1");
    return std::count(kinds.begin(), kinds.end(), "change-accepted") == 1;
  }));
}

TEST_F(StationsTest, ALateWillOfAnOlderConnectionIsAnsweredWithOnline) {
  StartAgent("S1");
  const int64_t session = watch_->Station("S1").status->session;
  PublishAs("S1", "S1", tarvo_mqtt::Serialise(tarvo_mqtt::Status{false, session - 1}), "status");
  ASSERT_TRUE(WaitFor([&] {
    const auto statuses = watch_->Statuses("S1");
    return statuses.size() >= 3 && statuses.back() == tarvo_mqtt::Status{true, session};
  }));
  const ProcessResult status = Fleet({"status", "--json"});
  EXPECT_NE(status.out.find(R"("connection":"online")"), std::string::npos) << status.out;
}

TEST_F(StationsTest, AMuteSignIsNeverShownVerified) {
  StartAgent("S1");
  Pushed({"push", "--station", "S1", "row1=45.60:95:1"});
  stations_["S1"].sign->SetFaults({.silent = true});
  PublishAs("head-office", "S1", "", "cmd/verify");
  ASSERT_TRUE(WaitFor([&] {
    const auto reported = watch_->Station("S1").reported;
    return reported && reported->state != StationState::kVerified &&
           reported->lastVerification && !reported->lastVerification->ok;
  }, 20s)) << stations_["S1"].agent->Log();
  const ProcessResult status = Fleet({"status", "--json"});
  EXPECT_EQ(json::parse(status.out)["stations"][0]["state"], "unverified") << status.out;
}

TEST_F(StationsTest, AUserNameThatIsNotTheStationIdIsSaid) {
  // S1's own credentials in S2's agent: the broker takes them, its ACL gives them nothing of S2's.
  std::ifstream read(stations_["S2"].agent->Config());
  std::string config((std::istreambuf_iterator<char>(read)), std::istreambuf_iterator<char>());
  const std::string password = broker_.PasswordFile("S2");
  config.replace(config.find(password), password.size(), broker_.PasswordFile("S1"));
  std::ofstream(stations_["S2"].agent->Config()) << config << "username = \"S1\"\n";
  stations_["S2"].agent->Start();
  ASSERT_TRUE(WaitFor([&] { return Logged("S2", "does not let user \"S1\" speak for station \"S2\""); },
                      20s)) << stations_["S2"].agent->Log();
}

}  // namespace

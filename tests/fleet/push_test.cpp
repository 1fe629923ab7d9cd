// tarvo-fleet as the head office runs it, against Debian's mosquitto with the
// package's ACL, and stations the test plays over the same contract.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "mqtt/topics.h"
#include "tests/support/child_process.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/mosquitto_broker.h"
#include "tests/support/scripted_station.h"
#include "tests/support/wait_for.h"

namespace {

using namespace tarvo_mqtt;
using nlohmann::json;
using tarvo::test::ChildProcess;
using tarvo::test::MosquittoBroker;
using tarvo::test::ProcessResult;
using tarvo::test::ScriptedStation;
using tarvo::test::WaitFor;
using namespace std::chrono_literals;

class FleetTest : public ::testing::Test {
 protected:
  FleetTest()
      : broker_(env_.Root(),
                {{"head-office", "ho-secret"}, {"S1", "s1-secret"}, {"S2", "s2-secret"}}) {
    broker_.Start();
  }
  ClientSettings Station(const std::string& id) const {
    ClientSettings settings;
    settings.url = broker_.TlsUrl();
    settings.passwordFile = broker_.PasswordFile(id);
    settings.caFile = broker_.CaFile();
    return settings;
  }
  // tarvo-fleet with the head office's credentials over TLS, then `args`.
  std::vector<std::string> Fleet(const std::vector<std::string>& args) const {
    return broker_.HeadOfficeLine(TARVO_FLEET_PROGRAM, args);
  }
  ProcessResult Run(const std::vector<std::string>& args) const {
    return ChildProcess(Fleet(args)).Finish();
  }

  tarvo::test::HermeticEnv env_;
  MosquittoBroker broker_;
};

json Document(const ProcessResult& result) {
  const json document = json::parse(result.out, nullptr, false);
  EXPECT_FALSE(document.is_discarded()) << result.out;
  return document;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TEST_F(FleetTest, PushIsConfirmedByTwoStationsAndTheNextOneCarriesTheNextRevision) {
  ScriptedStation s1("S1", Station("S1"));
  ScriptedStation s2("S2", Station("S2"));
  ASSERT_TRUE(WaitFor([&] { return s1.Connected() && s2.Connected(); }));

  const ProcessResult first =
      Run({"push", "--station", "S1", "--station", "S2", "row1=45.60:95", "--json"});
  EXPECT_EQ(first.status, 0) << first.err;
  const json pushed = Document(first);
  EXPECT_EQ(pushed["confirmed"], 2);
  ASSERT_EQ(s1.Desired().size(), 1u);
  const int64_t first1 = s1.Desired()[0].rev;
  EXPECT_GE(first1, NowMs() - 60'000);
  EXPECT_EQ(s1.Desired()[0].panels,
            (std::vector<station::PanelRequest>{{4, "4560", '3', {}}, {12, "4560", '3', {}}}));

  // The plan keeps row 1 beside what the next push sets.
  const ProcessResult second = Run({"push", "--all", "panel8=-"});
  EXPECT_EQ(second.status, 0) << second.err;
  const int64_t next = s2.Desired().back().rev;
  EXPECT_GT(next, first1);
  EXPECT_NE(second.out.find("S2              confirmed      office rev " + std::to_string(next) +
                            " verified"),
            std::string::npos)
      << second.out;
  EXPECT_EQ(s2.Desired().back().panels.size(), 3u);

  const json status = Document(Run({"status", "--json"}));
  ASSERT_EQ(status["stations"].size(), 2u) << status;
  for (const json& station : status["stations"]) {
    EXPECT_EQ(station["connection"], "online");
    EXPECT_EQ(station["office_rev"], station["taken_office_rev"]);
    EXPECT_EQ(station["state"], "verified");
  }
}

TEST_F(FleetTest, AStationOfflineDuringThePushGetsItWhenItConnects) {
  ScriptedStation s1("S1", Station("S1"));
  ASSERT_TRUE(WaitFor([&] { return s1.Connected(); }));
  // S2's desired is published first, so it is on the broker once S1 has its own.
  ChildProcess push(
      Fleet({"push", "--new", "--station", "S2", "--station", "S1", "row2=52.10", "--json"}));
  ASSERT_TRUE(WaitFor([&] { return !s1.Desired().empty(); }, 30s));
  ScriptedStation s2("S2", Station("S2"));
  const ProcessResult result = push.Finish();
  EXPECT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(s2.Desired().size(), 1u);
  EXPECT_EQ(s2.Desired()[0].rev, s1.Desired()[0].rev);
}

TEST_F(FleetTest, AStationThatStaysAwayIsListedOffline) {
  ScriptedStation s1("S1", Station("S1"));
  ASSERT_TRUE(WaitFor([&] { return s1.Connected(); }));
  const ProcessResult result =
      Run({"push", "--new", "--station", "S1", "--station", "S2", "row2=52.10", "--timeout", "1"});
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_NE(result.out.find("S1              confirmed"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("S2              offline"), std::string::npos) << result.out;
}

// --at as a person writes it is shown as the instant it became; a far future
// stays in the future; the same scheduled change pushed again is warned of.
TEST_F(FleetTest, APushAtATimeShowsItAndWarnsOfTheSameChangeTwice) {
  ScriptedStation s1("S1", Station("S1"));
  ASSERT_TRUE(WaitFor([&] { return s1.Connected(); }));
  const std::vector<std::string> push = {"push", "--station", "S1", "row2=52.10", "--at",
                                         "9999-12-31 06:00", "--timeout", "1"};
  const ProcessResult first = Run(push);
  ASSERT_TRUE(WaitFor([&] { return s1.Desired().size() == 1; }));
  const ProcessResult second = Run(push);

  EXPECT_EQ(first.out.rfind("at 9999-12-31T06:00:00", 0), 0u) << first.out;
  EXPECT_EQ(first.err, "");
  ASSERT_EQ(s1.Desired()[0].scheduled.size(), 1u);
  EXPECT_GT(s1.Desired()[0].scheduled[0].effectiveAt, std::chrono::sys_days(std::chrono::year(9999) / 12 / 30));
  EXPECT_NE(second.err.find("warning: S1: the same change is scheduled already"), std::string::npos)
      << second.err;
}

TEST_F(FleetTest, AfterTheBrokerWasKilledAPushIsConfirmed) {
  ScriptedStation s1("S1", Station("S1"));
  ASSERT_TRUE(WaitFor([&] { return s1.Connected(); }));
  ASSERT_EQ(Run({"push", "--station", "S1", "row1=45.60"}).status, 0);
  broker_.Kill();
  broker_.Start();
  // Its reported state, published again on connecting, tells the next revision.
  ASSERT_TRUE(WaitFor([&] { return s1.Connections() == 2 && s1.Settled(); }, 30s));
  const ProcessResult result = Run({"push", "--station", "S1", "row1=45.70"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_GT(s1.Desired().back().rev, s1.Desired().front().rev);
}

TEST_F(FleetTest, EventsKeptWhileAwayComeInOrderWithBrokerSettingsFromFleetToml) {
  std::filesystem::create_directories(env_.ConfigDir() + "/tarvo");
  std::ofstream(env_.ConfigDir() + "/tarvo/fleet.toml")
      << "broker = \"" << broker_.TlsUrl() << "\"\nusername = \"head-office\"\n"
      << "password_file = \"" << broker_.PasswordFile("head-office") << "\"\n"
      << "ca_file = \"" << broker_.CaFile() << "\"\n";
  const std::vector<std::string> events = {TARVO_FLEET_PROGRAM, "events", "--json"};
  // The first call makes the broker keep our events from then on.
  const ProcessResult first = ChildProcess(events).Finish();
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(Document(first)["events"].size(), 0u);

  ScriptedStation s1("S1", Station("S1"));
  ASSERT_TRUE(WaitFor([&] { return s1.Connected(); }));
  for (int64_t seq : {1, 2})
    s1.Publish(Topic("S1", TopicKind::kEvents),
               Serialise(Event{
                   "boot", seq,
                   station::WallNow(),
                   "drift-found", "panel 4", std::nullopt}));
  ASSERT_TRUE(WaitFor([&] { return s1.Settled(); }));

  const json kept = Document(ChildProcess(events).Finish());
  ASSERT_EQ(kept["events"].size(), 2u) << kept;
  EXPECT_EQ(kept["events"][0]["seq"], 1);
  EXPECT_EQ(kept["events"][1]["seq"], 2);
  EXPECT_EQ(kept["events"][1]["station"], "S1");
  EXPECT_EQ(Document(ChildProcess(events).Finish())["events"].size(), 0u);
}

TEST_F(FleetTest, ReadersWithCursorsOfTheirOwnEachGetEveryEventOnceAndARetainedOneIsNone) {
  const auto event = [](int64_t seq) {
    return Serialise(Event{"boot", seq, station::WallNow(), "drift-found", "panel 4",
                           std::nullopt});
  };
  const ProcessResult retained =
      ChildProcess({"/usr/bin/mosquitto_pub", "-L", broker_.Url() + "/tarvo/v1/S1/events", "-u",
                    "S1", "-P", "s1-secret", "-q", "1", "-r", "-m", event(1)})
          .Finish();
  ASSERT_EQ(retained.status, 0) << retained.err;
  const auto seqs = [&](const std::string& cursor) {
    std::vector<int64_t> seen;
    const json read =
        Document(Run({"events", "--json", "--cursor", env_.Root() + "/" + cursor + ".cursor"}));
    for (const json& row : read["events"]) seen.push_back(row["seq"].get<int64_t>());
    return seen;
  };
  EXPECT_EQ(seqs("first"), std::vector<int64_t>{});
  EXPECT_EQ(seqs("second"), std::vector<int64_t>{});

  ScriptedStation s1("S1", Station("S1"));
  ASSERT_TRUE(WaitFor([&] { return s1.Connected(); }));
  // Sent again after a reconnect: the same history id twice.
  for (int64_t seq : {2, 3, 3}) s1.Publish(Topic("S1", TopicKind::kEvents), event(seq));
  ASSERT_TRUE(WaitFor([&] { return s1.Settled(); }));
  EXPECT_EQ(seqs("first"), (std::vector<int64_t>{2, 3}));
  EXPECT_EQ(seqs("second"), (std::vector<int64_t>{2, 3}));
  EXPECT_EQ(seqs("first"), std::vector<int64_t>{});
}

TEST_F(FleetTest, ForgetClearsAGoneStationsDocumentsButNotAnOnlineOnes) {
  {
    ScriptedStation s2("S2", Station("S2"));
    ASSERT_TRUE(WaitFor([&] { return s2.Connected(); }));
    ASSERT_EQ(Run({"push", "--station", "S2", "row1=45.60"}).status, 0);
  }
  // Gone: its last word was "lost".
  const ProcessResult lost =
      ChildProcess({"/usr/bin/mosquitto_pub", "-L", broker_.Url() + "/tarvo/v1/S2/status", "-u",
                    "S2", "-P", "s2-secret", "-q", "1", "-r", "-m",
                    Serialise(Status{false, NextSession(0)})})
          .Finish();
  ASSERT_EQ(lost.status, 0) << lost.err;
  ScriptedStation s1("S1", Station("S1"));
  ASSERT_TRUE(WaitFor([&] { return s1.Connected(); }));
  const ProcessResult online = Run({"forget", "S1"});
  EXPECT_EQ(online.status, 2) << online.err;
  EXPECT_NE(online.err.find("S1 is online"), std::string::npos) << online.err;

  const ProcessResult forgotten = Run({"forget", "S2"});
  EXPECT_EQ(forgotten.status, 0) << forgotten.err;
  const json status = Document(Run({"status", "--json"}));
  ASSERT_EQ(status["stations"].size(), 1u) << status;
  EXPECT_EQ(status["stations"][0]["station"], "S1");
  EXPECT_EQ(Run({"push", "--station", "S2", "row1=45.70"}).status, 2);
}

struct Refused {
  const char* name;
  std::vector<std::string> (*line)(const MosquittoBroker&);
  int status;
  const char* said;
};

const Refused kRefused[] = {
    {"NoCredentials",
     [](const MosquittoBroker& b) {
       return std::vector<std::string>{"--broker", b.Url(), "status", "--json"};
     },
     3, "not authorised"},
    {"WrongPassword",
     [](const MosquittoBroker& b) {
       return std::vector<std::string>{"--broker",    b.Url(),           "--username",
                                       "head-office", "--password-file", b.PasswordFile("S1"),
                                       "status",      "--json"};
     },
     3, "refused"},
    {"WrongCa",
     [](const MosquittoBroker& b) {
       return std::vector<std::string>{"--broker",        b.TlsUrl(),
                                       "--username",      "head-office",
                                       "--password-file", b.PasswordFile("head-office"),
                                       "--ca-file",       b.OtherCaFile(),
                                       "status",          "--json"};
     },
     3, "unknown CA"},
    {"StationCredentials",
     [](const MosquittoBroker& b) {
       return std::vector<std::string>{"--broker", b.Url(),  "--username", "S1", "--password-file",
                                       b.PasswordFile("S1"), "status",     "--json"};
     },
     3, "not authorised"},
    {"ClosedTlsPort",
     [](const MosquittoBroker& b) {
       return std::vector<std::string>{"--broker", "mqtts://127.0.0.1:1",  "--ca-file",
                                       b.CaFile(), "status", "--json"};
     },
     3, "connection refused"},
    {"StationNeverSeen",
     [](const MosquittoBroker& b) {
       return b.HeadOfficeLine("", {"push", "--station", "S3", "row1=1.00", "--json"});
     },
     2, "S3: no such station"},
    {"BadSpec",
     [](const MosquittoBroker& b) {
       return std::vector<std::string>{"--broker", b.Url(),     "push",  "--station",
                                       "S1",       "row9=1.00", "--json"};
     },
     2, "bad SPEC"},
    {"BadStationId",
     [](const MosquittoBroker& b) {
       return std::vector<std::string>{"--broker", b.Url(),     "push",  "--station",
                                       "S/1",      "row1=1.00", "--json"};
     },
     2, "not a station id"},
    {"BadTime",
     [](const MosquittoBroker& b) {
       return std::vector<std::string>{"--broker",  b.Url(), "push", "--station", "S1",
                                       "row1=1.00", "--at",  "6am",  "--json"};
     },
     2, "--at"},
    // A time gone by (as a far one that wrapped would be) must not apply now.
    {"TimeGoneBy",
     [](const MosquittoBroker& b) {
       return std::vector<std::string>{
           "--broker",  b.Url(), "push", "--station", "S1", "row1=1.00",
           "--at",      "2020-01-01T00:00:00Z", "--json"};
     },
     2, "is not ahead"},
};

class RefusedTest : public FleetTest, public ::testing::WithParamInterface<Refused> {};

TEST_P(RefusedTest, SaysWhyOnOneLineAndInItsDocument) {
  std::vector<std::string> line = {TARVO_FLEET_PROGRAM};
  for (const std::string& arg : GetParam().line(broker_))
    if (!arg.empty()) line.push_back(arg);
  const ProcessResult result = ChildProcess(line).Finish();
  EXPECT_EQ(result.status, GetParam().status) << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  EXPECT_NE(result.err.find(GetParam().said), std::string::npos) << result.err;
  EXPECT_EQ(Document(result)["exit"], GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Fleet, RefusedTest, ::testing::ValuesIn(kRefused),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace

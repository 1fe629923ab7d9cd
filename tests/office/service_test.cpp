// tarvo-office as a process against Debian's mosquitto with the package's
// ACL, stations played by the test over the fleet's contract, and the API
// asked over HTTP as the page asks it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "fleet_push/plan.h"
#include "mqtt/documents.h"
#include "mqtt/topics.h"
#include "station/panel_request.h"
#include "tests/office/office_process.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/scripted_station.h"

namespace {

using namespace tarvo_mqtt;
using nlohmann::json;
using tarvo::test::Http;
using tarvo::test::HttpAnswer;
using tarvo::test::MosquittoBroker;
using tarvo::test::OfficeProcess;
using tarvo::test::ScriptedStation;
using tarvo::test::WaitFor;
using namespace std::chrono_literals;

WallTime At(const std::string& text) { return *station::ParseRfc3339(text); }

std::string EventDocument(const std::string& boot, int64_t seq) {
  return Serialise(Event{boot, seq, At("2026-12-03T10:00:00Z") + std::chrono::seconds(seq),
                         "drift-found", "panel 4 showed 45.50", 3});
}

// A verified read-back of row 1 at `price`, at `at`.
std::string VerifiedReport(const std::string& price, const std::string& at, int64_t rev) {
  Reported reported;
  reported.rev = rev;
  reported.changeId = "change-" + std::to_string(rev);
  reported.state = StationState::kVerified;
  reported.panels = station::ParseSpecs({"row1=" + price + ":95"});
  reported.lastVerification = Verification{At(at), true};
  reported.verifiedAt = At(at);
  reported.version = "test";
  reported.bootId = "boot-a";
  return Serialise(reported);
}

class OfficeTest : public ::testing::Test {
 protected:
  OfficeTest()
      : broker_(env_.Root(), {{"head-office", "ho-secret"},
                              {"north-1", "n1-secret"},
                              {"north-2", "n2-secret"}}),
        office_(broker_, env_.Root(), "[groups]\nnorth = [\"north-1\", \"north-2\"]\n") {
    broker_.Start();
    office_.AddUser("anna", "pricing", "anna-pass");
    office_.AddUser("victor", "viewer", "victor-pass");
    office_.Start();
    pricing_ = office_.Login("anna", "anna-pass");
    viewer_ = office_.Login("victor", "victor-pass");
  }
  ClientSettings Station(const std::string& id) const {
    ClientSettings settings;
    settings.url = broker_.Url();
    settings.passwordFile = broker_.PasswordFile(id);
    return settings;
  }
  int64_t StoredEvents(const std::string& station) const {
    return static_cast<int64_t>(
        office_.Get(pricing_, "/api/v1/stations/" + station + "/history?limit=1000").size());
  }
  bool Online(const std::string& station) const {
    const json known = office_.Get(pricing_, "/api/v1/stations/" + station);
    return known.is_object() && known["online"] == true;
  }

  tarvo::test::HermeticEnv env_;
  MosquittoBroker broker_;
  OfficeProcess office_;
  std::vector<std::string> pricing_;
  std::vector<std::string> viewer_;
};

TEST_F(OfficeTest, EventsAreStoredOnceAcrossReplaysAndThoseSentWhileAwayArriveAfterARestart) {
  ScriptedStation north("north-1", Station("north-1"));
  ASSERT_TRUE(WaitFor([&] { return Online("north-1"); }, 20s));
  const std::string events = Topic("north-1", TopicKind::kEvents);
  for (int64_t seq = 1; seq <= 5; ++seq) north.Publish(events, EventDocument("boot-a", seq));
  north.Publish(events, EventDocument("boot-a", 3));  // a replay
  ASSERT_TRUE(WaitFor([&] { return StoredEvents("north-1") == 5; }, 20s));

  office_.Stop();
  // While the service is away: new events and replays of stored ones.
  for (int64_t seq = 4; seq <= 8; ++seq) north.Publish(events, EventDocument("boot-a", seq));
  north.Publish(events, EventDocument("boot-b", 9));
  ASSERT_TRUE(WaitFor([&] { return north.Settled(); }, 20s));
  office_.Start();
  pricing_ = office_.Login("anna", "anna-pass");
  ASSERT_TRUE(WaitFor([&] { return StoredEvents("north-1") == 9; }, 20s));
  const json history = office_.Get(pricing_, "/api/v1/stations/north-1/history?limit=1000");
  EXPECT_EQ(history[0]["kind"], "drift-found");
  EXPECT_EQ(history[0]["rev"], 3);
}

TEST_F(OfficeTest, KilledDuringABurstTheServiceLosesAndDoublesNothing) {
  ScriptedStation north("north-1", Station("north-1"));
  ASSERT_TRUE(WaitFor([&] { return Online("north-1"); }, 20s));
  const std::string events = Topic("north-1", TopicKind::kEvents);
  constexpr int64_t kBurst = 600;
  for (int64_t seq = 1; seq <= kBurst; ++seq) north.Publish(events, EventDocument("burst", seq));
  ASSERT_TRUE(WaitFor([&] { return StoredEvents("north-1") > 0; }, 20s));
  office_.Stop(SIGKILL);
  office_.Start();
  pricing_ = office_.Login("anna", "anna-pass");
  ASSERT_TRUE(WaitFor([&] { return StoredEvents("north-1") >= kBurst; }, 30s))
      << StoredEvents("north-1");
  EXPECT_EQ(StoredEvents("north-1"), kBurst);
}

// A push waiting on a station gone away when the service is killed waits
// again after its restart, and is confirmed by what the station sent meanwhile.
TEST_F(OfficeTest, APushWaitingWhenTheServiceWasKilledIsConfirmedAfterItsRestart) {
  const std::string push = R"({"specs": ["row2=52.40:92"], "stations": ["north-1"]})";
  {
    ScriptedStation north("north-1", Station("north-1"));
    ASSERT_TRUE(WaitFor([&] { return Online("north-1"); }, 20s));
    ASSERT_EQ(Http(office_.Port(), "POST", "/api/v1/pushes", pricing_, push).status, 201);
    ASSERT_TRUE(WaitFor([&] { return north.Desired().size() == 1 && north.Settled(); }, 20s));
  }  // gone from the broker, not yet lost for the office
  // Killed at once: its plan may or may not have reached the broker.
  const HttpAnswer created = Http(office_.Port(), "POST", "/api/v1/pushes", pricing_,
                                  R"({"specs": ["row3=53.40:95"], "stations": ["north-1"]})");
  ASSERT_EQ(created.status, 201) << created.body;
  const std::string id = json::parse(created.body)["change_id"];
  office_.Stop(SIGKILL);
  ScriptedStation north("north-1", Station("north-1"));
  office_.Start();
  pricing_ = office_.Login("anna", "anna-pass");
  ASSERT_TRUE(WaitFor([&] {
    return office_.Get(pricing_, "/api/v1/pushes/" + id)["stations"][0]["outcome"] == "confirmed";
  }, 20s)) << office_.Get(pricing_, "/api/v1/pushes/" + id).dump();
  const std::vector<tarvo_mqtt::Desired> plans = north.Desired();
  EXPECT_TRUE(tarvo_fleet::Shows(plans.back().panels, station::ParseSpecs({"row2=52.40:92", "row3=53.40:95"})));
}

TEST_F(OfficeTest, ShownAnswersFromVerifiedReadBacksAndUnknownForAGap) {
  ScriptedStation north("north-1", Station("north-1"));
  ASSERT_TRUE(WaitFor([&] { return Online("north-1"); }, 20s));
  const std::string reported = Topic("north-1", TopicKind::kReported);
  north.Publish(reported, VerifiedReport("45.60", "2026-12-03T10:00:00Z", 1));
  north.Publish(reported, VerifiedReport("45.60", "2026-12-03T10:05:00Z", 1));
  north.Publish(reported, VerifiedReport("46.10", "2026-12-03T12:00:00Z", 2));
  Reported unverified = ParseReported(VerifiedReport("46.10", "2026-12-03T13:00:00Z", 2));
  unverified.state = StationState::kUnverified;
  unverified.lastVerification->ok = false;
  north.Publish(reported, Serialise(unverified));
  ASSERT_TRUE(WaitFor([&] {
    return office_.Get(pricing_, "/api/v1/stations/north-1")["state"] == "unverified";
  }, 20s));

  const auto shown = [&](const std::string& at) {
    const json answer = office_.Get(pricing_, "/api/v1/stations/north-1/shown?at=" + at);
    return answer["panels"][4]["price"];  // address 4: row 1, first half
  };
  EXPECT_EQ(shown("2026-12-03T09:59:59Z"), "unknown");
  EXPECT_EQ(shown("2026-12-03T11:00:00Z"), "45.60");
  EXPECT_EQ(shown("2026-12-03T12:30:00Z"), "46.10");
  EXPECT_EQ(shown("2026-12-03T13:00:01Z"), "unknown");

  const HttpAnswer csv =
      Http(office_.Port(), "GET",
           "/api/v1/export.csv?group=north&from=2026-12-03T00:00:00Z&to=2026-12-04T00:00:00Z",
           pricing_);
  EXPECT_EQ(csv.status, 200);
  EXPECT_NE(csv.body.find("north-1,4,1,1,45.60,95,,2026-12-03T10:00:00Z,2026-12-03T12:00:00Z,1,change-1,"),
            std::string::npos)
      << csv.body;
}

TEST_F(OfficeTest, APushFromTheApiIsConfirmedAndRecordsItsWebUser) {
  ScriptedStation north("north-1", Station("north-1"));
  ASSERT_TRUE(WaitFor([&] { return Online("north-1"); }, 20s));
  const HttpAnswer created =
      Http(office_.Port(), "POST", "/api/v1/pushes", pricing_,
           R"({"specs": ["row2=52.40:92"], "stations": ["north-1"]})");
  ASSERT_EQ(created.status, 201) << created.body;
  const std::string id = json::parse(created.body)["change_id"];
  ASSERT_TRUE(WaitFor([&] {
    return office_.Get(pricing_, "/api/v1/pushes/" + id)["stations"][0]["outcome"] == "confirmed";
  }, 20s)) << office_.Get(pricing_, "/api/v1/pushes/" + id).dump();
  ASSERT_EQ(north.Desired().size(), 1u);
  EXPECT_EQ(north.Desired()[0].issuer, "anna");
  EXPECT_EQ(office_.Get(pricing_, "/api/v1/pushes")[0]["issuer"], "anna");
}

// A scheduled push is withdrawn from the page's API by a pricing user: a
// viewer is refused and changes nothing; the cancel is confirmed by the
// station, listed with the push it cancels; a push for now has none.
TEST_F(OfficeTest, AScheduledPushIsCancelledByAPricingUserNotByAViewer) {
  ScriptedStation north("north-1", Station("north-1"));
  ASSERT_TRUE(WaitFor([&] { return Online("north-1"); }, 20s));
  const auto push = [&](const std::string& body) {
    const HttpAnswer created = Http(office_.Port(), "POST", "/api/v1/pushes", pricing_, body);
    EXPECT_EQ(created.status, 201) << created.body;
    return json::parse(created.body)["change_id"].get<std::string>();
  };
  const auto outcome = [&](const std::string& id) {
    return office_.Get(pricing_, "/api/v1/pushes/" + id)["stations"][0]["outcome"];
  };
  const std::string later =
      push(R"({"specs": ["row2=52.40:92"], "stations": ["north-1"], "at": "2099-01-01T06:00:00Z"})");
  ASSERT_TRUE(WaitFor([&] { return outcome(later) == "confirmed"; }, 20s));
  const std::string cancelPath = "/api/v1/pushes/" + later + "/cancel";
  EXPECT_EQ(Http(office_.Port(), "POST", cancelPath, viewer_, "").status, 403);
  EXPECT_EQ(north.Desired().size(), 1u);
  const HttpAnswer cancelled = Http(office_.Port(), "POST", cancelPath, pricing_, "");
  ASSERT_EQ(cancelled.status, 201) << cancelled.body;
  const std::string cancel = json::parse(cancelled.body)["change_id"];
  ASSERT_TRUE(WaitFor([&] { return outcome(cancel) == "confirmed"; }, 20s))
      << office_.Get(pricing_, "/api/v1/pushes/" + cancel).dump();
  EXPECT_TRUE(north.Desired().back().scheduled.empty());
  EXPECT_EQ(north.Desired().back().issuer, "anna");
  EXPECT_EQ(office_.Get(pricing_, "/api/v1/pushes/" + cancel)["cancels"], later);
  EXPECT_EQ(office_.Get(pricing_, "/api/v1/pushes/" + later)["cancelled_by"], json::array({cancel}));
  const std::string now = push(R"({"specs": ["row2=52.40:92"], "stations": ["north-1"]})");
  EXPECT_EQ(Http(office_.Port(), "POST", "/api/v1/pushes/" + now + "/cancel", pricing_, "").status, 409);
  EXPECT_EQ(Http(office_.Port(), "POST", "/api/v1/pushes/nobody/cancel", pricing_, "").status, 404);
}

// Guessing passwords: the sixth try after five wrong ones is refused even
// with the right password, and another user still logs in.
TEST_F(OfficeTest, WrongPasswordsLockTheUserOutForAWhile) {
  const auto login = [&](const std::string& user, const std::string& password) {
    return Http(office_.Port(), "POST", "/api/v1/login", {},
                json{{"user", user}, {"password", password}}.dump());
  };
  for (int i = 0; i < 5; ++i) EXPECT_EQ(login("anna", "guess-" + std::to_string(i)).status, 401);
  const HttpAnswer locked = login("anna", "anna-pass");
  EXPECT_EQ(locked.status, 429);
  EXPECT_NE(locked.body.find("too many failed logins"), std::string::npos) << locked.body;
  EXPECT_EQ(locked.headers.count("set-cookie"), 0u);
  EXPECT_EQ(login("victor", "victor-pass").status, 200);
}

struct Refusal {
  const char* name;
  const char* method;
  const char* path;
  const char* body;
  int status;
  int session;  // 0 none, 1 pricing, 2 viewer, 3 pricing without its CSRF token, 4 cross-site
};

class OfficeRefusalTest : public OfficeTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(OfficeRefusalTest, IsAnsweredWithAJsonErrorAndChangesNothing) {
  ScriptedStation north("north-1", Station("north-1"));
  ASSERT_TRUE(WaitFor([&] { return Online("north-1"); }, 20s));
  const Refusal& refusal = GetParam();
  std::vector<std::string> headers;
  if (refusal.session == 1 || refusal.session == 4) headers = pricing_;
  if (refusal.session == 2) headers = viewer_;
  if (refusal.session == 3) headers = {pricing_[0]};
  if (refusal.session == 4) headers.push_back("Origin: http://evil.example");
  const HttpAnswer answer = Http(office_.Port(), refusal.method, refusal.path, headers, refusal.body);
  EXPECT_EQ(answer.status, refusal.status) << answer.body;
  const json error = json::parse(answer.body, nullptr, false);
  ASSERT_TRUE(error.is_object()) << answer.body;
  EXPECT_TRUE(error["error"].is_string()) << answer.body;
  EXPECT_EQ(office_.Get(pricing_, "/api/v1/pushes"), json::array());
  EXPECT_EQ(office_.Get(pricing_, "/api/v1/groups")["north"],
            json::array({"north-1", "north-2"}));
  EXPECT_TRUE(north.Desired().empty());
}

constexpr const char* kPush = R"({"specs": ["row1=45.60"], "stations": ["north-1"]})";

INSTANTIATE_TEST_SUITE_P(
    Office, OfficeRefusalTest,
    ::testing::Values(
        Refusal{"Unauthenticated", "POST", "/api/v1/pushes", kPush, 401, 0},
        Refusal{"UnauthenticatedRead", "GET", "/api/v1/stations", "", 401, 0},
        Refusal{"Viewer", "POST", "/api/v1/pushes", kPush, 403, 2},
        Refusal{"ViewerSetsAGroup", "PUT", "/api/v1/groups/north", R"({"stations": []})", 403, 2},
        Refusal{"NoCsrfToken", "POST", "/api/v1/pushes", kPush, 403, 3},
        Refusal{"CrossSite", "POST", "/api/v1/pushes", kPush, 403, 4},
        Refusal{"CrossSiteGroup", "PUT", "/api/v1/groups/north", R"({"stations": []})", 403, 4},
        Refusal{"NotJson", "POST", "/api/v1/pushes", "row1=45.60", 400, 1},
        Refusal{"BadSpec", "POST", "/api/v1/pushes", R"({"specs": ["row9=1"], "stations": ["north-1"]})", 400, 1},
        Refusal{"UnknownStation", "POST", "/api/v1/pushes", R"({"specs": ["row1=45.60"], "stations": ["south-9"]})", 400, 1},
        Refusal{"StationAndGroup", "POST", "/api/v1/pushes", R"({"specs": ["row1=45.60"], "stations": ["north-1"], "group": "north"})", 400, 1},
        Refusal{"UnknownGroup", "POST", "/api/v1/pushes", R"({"specs": ["row1=45.60"], "group": "south"})", 404, 1},
        Refusal{"BadTime", "POST", "/api/v1/pushes", R"({"specs": ["row1=45.60"], "stations": ["north-1"], "at": "tomorrow"})", 400, 1},
        Refusal{"UnknownKey", "POST", "/api/v1/pushes", R"({"specs": ["row1=45.60"], "stations": ["north-1"], "force": true})", 400, 1},
        Refusal{"BadGroupMember", "PUT", "/api/v1/groups/north", R"({"stations": ["a/b"]})", 400, 1},
        Refusal{"BadShownTime", "GET", "/api/v1/stations/north-1/shown?at=noon", "", 400, 1},
        Refusal{"NoSuchStation", "GET", "/api/v1/stations/south-9", "", 404, 1},
        Refusal{"ReadOnly", "DELETE", "/api/v1/stations/north-1", "", 405, 1}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(OfficeTest, MetricsNeedNoLoginOnLoopbackAndSayWhatTheAlertsWatch) {
  ScriptedStation north("north-1", Station("north-1"));
  ASSERT_TRUE(WaitFor([&] { return Online("north-1"); }, 20s));
  const HttpAnswer metrics = Http(office_.Port(), "GET", "/metrics");
  EXPECT_EQ(metrics.status, 200);
  for (const char* line : {"tarvo_station_online{station=\"north-1\"} 1",
                           "tarvo_station_verified{station=\"north-1\"} 0",
                           "tarvo_station_revision_lag_seconds{station=\"north-1\"} 0",
                           "tarvo_station_drift_total{station=\"north-1\"} 0",
                           "tarvo_office_broker_connected 1"})
    EXPECT_NE(metrics.body.find(line), std::string::npos) << line << "\n" << metrics.body;
}

TEST(OfficeTls, ServesHttpsWithSecureSessionCookies) {
  tarvo::test::HermeticEnv env;
  MosquittoBroker broker(env.Root(), {{"head-office", "ho"}});
  broker.Start();
  OfficeProcess office(broker, env.Root(), "", true);
  office.AddUser("anna", "pricing", "anna-pass");
  office.Start();
  const tarvo::test::ProcessResult login =
      office.Curl({"-i", "-H", "Content-Type: application/json", "-d",
                   R"({"user":"anna","password":"anna-pass"})", "/api/v1/login"});
  ASSERT_EQ(login.status, 0) << login.err;
  EXPECT_NE(login.out.find("HTTP/1.1 200"), std::string::npos) << login.out;
  EXPECT_NE(login.out.find("HttpOnly; SameSite=Strict; Secure"), std::string::npos) << login.out;
  // Plain HTTP on the same port gets no answer of ours.
  EXPECT_NE(Http(office.Port(), "GET", "/login").status, 200);
}

}  // namespace

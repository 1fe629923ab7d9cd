// The client against Debian's mosquitto: TLS, the ACL of the package, and a
// broker killed and started again.
#include "mqtt/client.h"

#include <gtest/gtest.h>

#include "mqtt/poll_loop.h"
#include "mqtt/topics.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/mosquitto_broker.h"
#include "tests/support/scripted_station.h"
#include "tests/support/wait_for.h"

namespace {

using namespace tarvo_mqtt;
using tarvo::test::MosquittoBroker;
using tarvo::test::ScriptedStation;
using tarvo::test::WaitFor;
using namespace std::chrono_literals;

class ClientTest : public ::testing::Test {
 protected:
  ClientTest()
      : broker_(env_.Root(),
                {{"head-office", "ho-secret"}, {"S1", "s1-secret"}, {"S2", "s2-secret"}}) {
    broker_.Start();
  }
  ClientSettings As(const std::string& user, bool tls = true) const {
    ClientSettings settings;
    settings.url = tls ? broker_.TlsUrl() : broker_.Url();
    settings.username = user;
    settings.passwordFile = broker_.PasswordFile(user);
    settings.caFile = broker_.CaFile();
    return settings;
  }
  Desired Change(int64_t rev) const {
    return {rev, "c" + std::to_string(rev), "head-office", {{4, "4560", '3', '1'}}, {}, {}};
  }

  tarvo::test::HermeticEnv env_;
  MosquittoBroker broker_;
};

// The head office's client as the test drives it on this thread.
struct HeadOffice {
  explicit HeadOffice(ClientSettings settings)
      : client(std::move(settings),
               {.connected = [this] { ++connections; },
                .disconnected = [this](const std::string& why) { reasons.push_back(why); },
                .message = [this](const Message& m) { messages.push_back(m); },
                .will = nullptr,
                .interestChanged = nullptr}) {
    loop.Add(client);
    client.Start();
  }
  bool Run(const std::function<bool()>& done) { return loop.RunUntil(done, 20s); }

  Client client;
  PollLoop loop;
  int connections = 0;
  std::vector<std::string> reasons;
  std::vector<Message> messages;
};

TEST_F(ClientTest, ConnectsOverTlsWithoutSpinning) {
  HeadOffice office(As("head-office"));
  // The handshake takes a few round trips, each one wake-up of the loop; a
  // client that wanted to write while it waits for the broker would spin.
  int wakeUps = 0;
  while (office.connections == 0 && wakeUps < 1000) {
    office.loop.RunOnce(5s);
    ++wakeUps;
  }
  EXPECT_EQ(office.connections, 1);
  EXPECT_LT(wakeUps, 20);
}

TEST_F(ClientTest, AStationCannotSetAnotherStationsPrices) {
  ScriptedStation s1("S1", As("S1", false));
  ScriptedStation s2("S2", As("S2"));
  HeadOffice office(As("head-office"));
  office.client.Subscribe(EveryStation(TopicKind::kDesired));
  ASSERT_TRUE(WaitFor([&] { return s1.Connected() && s2.Connected(); }));
  ASSERT_TRUE(office.Run([&] { return office.client.Connected(); }));

  s1.Publish(Topic("S2", TopicKind::kDesired), Serialise(Change(99)));
  // The head office's own change reaches S2 after the forged one would have.
  office.client.Publish(Topic("S2", TopicKind::kDesired), Serialise(Change(5)), 1, true);
  ASSERT_TRUE(WaitFor([&] { return !s2.Desired().empty(); }));
  ASSERT_TRUE(office.Run([&] { return !office.messages.empty(); }));
  EXPECT_EQ(s2.Desired().front().rev, 5);
  EXPECT_EQ(ParseDesired(office.messages.front().payload).rev, 5);
}

TEST_F(ClientTest, AfterTheBrokerIsKilledItReconnectsAndResubscribes) {
  ScriptedStation s1("S1", As("S1"));
  ASSERT_TRUE(WaitFor([&] { return s1.Connected(); }));
  broker_.Kill();
  ASSERT_TRUE(WaitFor([&] { return !s1.Connected(); }));
  broker_.Start();
  ASSERT_TRUE(WaitFor([&] { return s1.Connections() == 2; }, 30s));

  HeadOffice office(As("head-office"));
  ASSERT_TRUE(office.Run([&] { return office.client.Connected(); }));
  office.client.Publish(Topic("S1", TopicKind::kDesired), Serialise(Change(3)), 1, true);
  ASSERT_TRUE(WaitFor([&] { return !s1.Desired().empty(); }));
  EXPECT_EQ(s1.Desired().back().rev, 3);
}

class OutageTest : public ClientTest, public ::testing::WithParamInterface<bool> {};

// A retry while the broker is away fails at once ("connection refused") and
// waits out its delay asleep: a handful of wake-ups, not a busy loop, over
// TLS as over plain MQTT.
TEST_P(OutageTest, ARetryWhileTheBrokerIsAwayFailsCleanlyAndTheLinkComesBack) {
  ClientSettings settings = As("head-office", GetParam());
  settings.firstRetry = 200ms;
  HeadOffice office(settings);
  ASSERT_TRUE(office.Run([&] { return office.client.Connected(); }));
  broker_.Stop();
  int wakeUps = 0;
  while (office.reasons.size() < 3 && wakeUps < 500) {
    office.loop.RunOnce(20s);
    ++wakeUps;
  }
  ASSERT_EQ(office.reasons.size(), 3u);
  EXPECT_LT(wakeUps, 40);
  EXPECT_EQ(office.reasons[1], "connection refused");
  broker_.Start();
  EXPECT_TRUE(office.Run([&] { return office.connections == 2; }));
}

INSTANTIATE_TEST_SUITE_P(Client, OutageTest, ::testing::Values(false, true),
                         [](const auto& param) { return param.param ? "Tls" : "Plain"; });

}  // namespace

// The client in a service's one sd-event loop: it connects over TLS, takes
// messages, and after the broker was killed comes back on a new socket.
#include <gtest/gtest.h>

#include "mqtt/sd_event_driver.h"
#include "mqtt/topics.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/mosquitto_broker.h"

namespace {

using namespace tarvo_mqtt;
using namespace std::chrono_literals;

// Runs the loop until `done` or a generous bound.
bool RunUntil(sd_event* loop, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (sd_event_run(loop, 100'000) < 0) return false;
  }
  return true;
}

TEST(SdEventDriver, ConnectsTakesMessagesAndComesBackAfterTheBroker) {
  tarvo::test::HermeticEnv env;
  tarvo::test::MosquittoBroker broker(env.Root(), {{"head-office", "ho-secret"}});
  broker.Start();
  sd_event* loop = nullptr;
  ASSERT_GE(sd_event_new(&loop), 0);
  {
    SdEventDriver driver(loop);
    int connections = 0;
    std::vector<std::string> payloads;
    ClientSettings settings;
    settings.url = broker.TlsUrl();
    settings.username = "head-office";
    settings.passwordFile = broker.PasswordFile("head-office");
    settings.caFile = broker.CaFile();
    settings.firstRetry = 100ms;
    const std::string topic = Topic("S1", TopicKind::kCmdReport);
    Client client(settings, {.connected =
                                 [&] {
                                   ++connections;
                                   client.Publish(topic, std::to_string(connections), 1, false);
                                 },
                             .disconnected = nullptr,
                             .message = [&](const Message& m) { payloads.push_back(m.payload); },
                             .will = nullptr,
                             .interestChanged = [&driver] { driver.Update(); }});
    client.Subscribe(topic);
    driver.Attach(client);
    client.Start();
    ASSERT_TRUE(RunUntil(loop, [&] { return payloads.size() == 1; }));

    broker.Kill();
    broker.Start();
    ASSERT_TRUE(RunUntil(loop, [&] { return payloads.size() == 2; }));
    EXPECT_EQ(payloads, (std::vector<std::string>{"1", "2"}));
  }
  sd_event_unref(loop);
}

}  // namespace

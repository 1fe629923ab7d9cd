// The broker's settings: the line's options over fleet.toml's keys, and a
// file that is not right refused naming what is wrong.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fleet_push/failure.h"
#include "fleet/options.h"
#include "tests/support/hermetic_env.h"

namespace {

using namespace tarvo_fleet;

class BrokerSettingsTest : public ::testing::Test {
 protected:
  void WriteToml(const std::string& text) const {
    std::filesystem::create_directories(env_.ConfigDir() + "/tarvo");
    std::ofstream(env_.ConfigDir() + "/tarvo/fleet.toml") << text;
  }
  std::string Refusal() const {
    try {
      BrokerSettings({});
    } catch (const FleetFailure& failure) {
      EXPECT_EQ(failure.Status(), ExitStatus::kBadInput);
      return failure.what();
    }
    return "accepted";
  }
  tarvo::test::HermeticEnv env_;
};

TEST_F(BrokerSettingsTest, TheLineGoesOverTheFile) {
  WriteToml("broker = \"mqtts://file:8883\"\nusername = \"head-office\"\n");
  BrokerOptions line;
  line.broker = "mqtt://line";
  const tarvo_mqtt::ClientSettings settings = BrokerSettings(line);
  EXPECT_EQ(settings.url, "mqtt://line");
  EXPECT_EQ(settings.username, "head-office");
}

TEST_F(BrokerSettingsTest, RefusesWhatItCannotUse) {
  EXPECT_NE(Refusal().find("no broker"), std::string::npos);
  WriteToml("brokr = \"mqtt://x\"\n");
  EXPECT_NE(Refusal().find("unknown key \"brokr\""), std::string::npos);
  WriteToml("broker = 1883\n");
  EXPECT_NE(Refusal().find("\"broker\" must be a text"), std::string::npos);
  WriteToml("broker = \"mqtt://x\n");
  EXPECT_NE(Refusal().find("fleet.toml:1"), std::string::npos);
}

}  // namespace

#pragma once
// A simulated sign on COM3 and tarvo-agent started on it, in a test's own folders.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>

#include "protocol/sign_link.h"
#include "sim/sign_simulator.h"
#include "station/utc_instant.h"
#include "tests/agent/agent_process.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/wait_for.h"

namespace tarvo::test {

inline size_t WriteFrames(const sign_sim::SimSign& sign) {
  size_t frames = 0;
  for (const std::string& message : sign.Received()) frames += message[0] == 'W' ? 1 : 0;
  return frames;
}

class AgentTest : public ::testing::Test {
 protected:
  AgentTest() : sim_(env_.ComDir()), sign_(sim_.AddSign("COM3")) {}

  // A sanitizer's report in the agent's process would otherwise go unseen.
  void TearDown() override {
    if (agent_) {
      EXPECT_EQ(agent_->Log().find("Sanitizer"), std::string::npos) << agent_->Log();
    }
  }

  AgentProcess& StartAgent(const AgentSetup& setup = {}) {
    sim_.Start();
    agent_ = std::make_unique<AgentProcess>(env_.Root(), setup);
    agent_->Start();
    return *agent_;
  }
  // Until the agent has read the sign once after its start.
  void WaitFirstRead() {
    ASSERT_TRUE(WaitFor([this] { return !agent_->Request({{"op", "status"}})["last_verification"].is_null(); }))
        << agent_->Log();
  }
  // Until the current revision is wholly on the sign and the agent is idle.
  void WaitVerified() {
    ASSERT_TRUE(WaitFor([this] {
      const nlohmann::json status = agent_->Request({{"op", "status"}});
      return status["verified_rev"] == status["rev"] && !status["busy"].get<bool>();
    }, std::chrono::seconds(30))) << agent_->Log();
  }
  nlohmann::json Write(const std::vector<std::string>& specs) {
    return agent_->Request({{"op", "write"}, {"specs", specs}});
  }
  nlohmann::json Schedule(const std::vector<std::string>& specs, int64_t at) {
    return agent_->Request({{"op", "write"}, {"specs", specs}, {"effective_at", station::FormatInstant(at)}});
  }
  bool Shows(uint8_t address, const sign_link::PanelRecord& record) { return sign_.Panel(address) == record; }
  bool WaitShows(uint8_t address, const sign_link::PanelRecord& record) {
    return WaitFor([&] { return Shows(address, record); }, std::chrono::seconds(20));
  }

  HermeticEnv env_;
  sign_sim::SignSimulator sim_;
  sign_sim::SimSign& sign_;
  std::unique_ptr<AgentProcess> agent_;
};

}  // namespace tarvo::test

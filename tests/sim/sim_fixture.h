#pragma once
// A running simulator with one sign, COM3, in a private port folder, and the
// program's end of its line.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "sim/sign_simulator.h"
#include "tests/sim/program_line.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/wait_for.h"

namespace tarvo::test {

class SimulatedSign : public ::testing::Test {
 protected:
  void SetUp() override { sim.Start(); }

  // Sends a message and returns the next `count` bytes of answer.
  std::string Ask(std::string_view message, size_t count) {
    line.Send(message);
    return line.ReadExactly(count);
  }

  // Proves that nothing was answered to what was sent before: the next
  // message's answer comes first. (Order on the line, not the clock.)
  void ExpectNextAnswerIsTo(std::string_view probe, const std::string& answer) {
    EXPECT_EQ(Ask(probe, answer.size()), answer) << "an answer came to an earlier message";
  }

  HermeticEnv env;
  sign_sim::SignSimulator sim{env.ComDir()};
  sign_sim::SimSign& sign = sim.AddSign("COM3");
  ProgramLine line{sign.LinkPath()};
};

}  // namespace tarvo::test

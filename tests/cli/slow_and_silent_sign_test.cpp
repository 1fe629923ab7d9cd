// tarvo-cli against signs that answer late, slowly or not at all: a panel
// shows its own value or none, a write is verified only by its own panel's
// reply, and a sign that does not answer ends the command at once.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "sim/sign_simulator.h"
#include "tests/cli/cli_process.h"
#include "tests/support/hermetic_env.h"

namespace {

using nlohmann::json;
using tarvo::test::CliResult;
using tarvo::test::RunCli;

class SignAnswerTest : public ::testing::Test {
 protected:
  SignAnswerTest() : sim_(env_.ComDir()), sign_(sim_.AddSign("COM3")) {
    sign_.SetLineRate(19200);
    sim_.Start();
  }

  size_t Sent(char kind) const {
    size_t count = 0;
    for (const std::string& message : sign_.Received()) count += message[0] == kind ? 1 : 0;
    return count;
  }

  tarvo::test::HermeticEnv env_;
  sign_sim::SignSimulator sim_;
  sign_sim::SimSign& sign_;
};

// Replies come 120 ms after each request, later than the 100 ms answer time.
TEST_F(SignAnswerTest, ALateReplyIsNeverShownAsTheNextPanelsValue) {
  sign_.UpdateFaults([](sign_sim::SignFaults& f) { f.answerDelayMs = 120; });
  sign_.SetPanel(2, {"6040", '3', '1'});
  sign_.SetPanel(3, {"5530", '2', '0'});
  sign_.SetPanel(4, {"4750", '1', '0'});

  const CliResult result = RunCli({"read", "--port", "COM3", "--json"});

  const json read = json::parse(result.out, nullptr, false);
  ASSERT_FALSE(read.is_discarded()) << result.out << result.err;
  for (const json& panel : read["panels"]) {
    if (panel["ok"] != true) continue;
    const uint8_t address = panel["address"];
    const std::string price = sign_.Panel(address).price;
    EXPECT_EQ(panel["price"], price.substr(0, 2) + "." + price.substr(2))
        << "panel " << int(address);
  }
}

TEST_F(SignAnswerTest, ARefusedWriteIsNotVerifiedByAnotherPanelsReply) {
  sign_.UpdateFaults([](sign_sim::SignFaults& f) {
    f.answerDelayMs = 120;
    f.refusedWrites = 3;
  });
  sign_.SetPanel(8, {"6820", '5', '2'});
  sign_.SetPanel(9, {"1111", '3', '0'});

  const CliResult result = RunCli({"write", "--port", "COM3", "panel8=11.11:95:0", "--json"});

  EXPECT_EQ(result.status, 1) << result.out << result.err;
  const json written = json::parse(result.out, nullptr, false);
  ASSERT_FALSE(written.is_discarded()) << result.out << result.err;
  EXPECT_EQ(written["verified"], false);
  EXPECT_EQ(written["panels"][0]["acknowledged"], false);
  EXPECT_EQ(sign_.Panel(8).price, "6820");
}

struct Unanswered {
  const char* name;
  sign_sim::SignFaults faults;
  std::vector<std::string> args;
  const char* said;
};

void PrintTo(const Unanswered& sign, std::ostream* out) { *out << sign.name; }

sign_sim::SignFaults Silent() {
  sign_sim::SignFaults faults;
  faults.silent = true;
  return faults;
}
sign_sim::SignFaults Dribbling() {
  sign_sim::SignFaults faults;
  faults.dribbleGapMs = 8;  // a reply takes 112 ms: longer than the answer time
  return faults;
}

const Unanswered kUnanswered[] = {
    {"SilentRead", Silent(), {"read"}, "the sign does not answer"},
    {"SilentWrite", Silent(), {"write", "row1=11.11"}, "the sign does not answer"},
    {"DribblingRead", Dribbling(), {"read"}, "--timeout"},
};

class UnansweredTest : public SignAnswerTest, public ::testing::WithParamInterface<Unanswered> {};

// The first panel tells: no other panel is asked and nothing is written.
TEST_P(UnansweredTest, EndsAtTheFirstPanelWithOneLineAndExitOne) {
  sign_.SetFaults(GetParam().faults);
  std::vector<std::string> args = GetParam().args;
  args.insert(args.begin() + 1, {"--port", "COM3"});

  const CliResult result = RunCli(args);

  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err.rfind("tarvo-cli: COM3 (" + sign_.LinkPath() + "): ", 0), 0u) << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  EXPECT_NE(result.err.find(GetParam().said), std::string::npos) << result.err;
  for (const std::string& message : sign_.Received())
    EXPECT_EQ(message, "R0E") << "only panel 0 is asked";
  EXPECT_EQ(Sent('W'), 0u);
}

INSTANTIATE_TEST_SUITE_P(Signs, UnansweredTest, ::testing::ValuesIn(kUnanswered),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace

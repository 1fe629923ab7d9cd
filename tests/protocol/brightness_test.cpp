// The two brightness commands against a scripted sign: what is sent, which
// echo counts, and the message the window shows.
#include "protocol/brightness.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/protocol/scripted_sign_port.h"
#include "tests/protocol/simulated_sign.h"

namespace {

using tarvo::test::ScriptedSignPort;
using Answer = ScriptedSignPort::Answer;
using namespace std::chrono_literals;

const std::string kNotSet = "Яркость не установлена.";

// A sign that answers every command with the given bytes (or echoes it).
ScriptedSignPort::Responder Answers(const std::optional<std::string>& bytes = std::nullopt) {
  return [bytes](const std::string& sent) -> std::optional<Answer> {
    return Answer{bytes.value_or(sent), 1};
  };
}

TEST(AutomaticBrightness, EchoOfLaSetsItAndFurtherBytesStayQueued) {
  ScriptedSignPort port;
  port.respond = Answers("LA+junk");
  std::string reply;

  EXPECT_EQ(SetAutomaticBrightness(port, reply, 0ms), "Установлена автоматическая яркость.");
  EXPECT_EQ(port.trace, (std::vector<std::string>{"purge", "send LA", "count 7", "read 2"}));
  EXPECT_EQ(reply, "LA");
  EXPECT_EQ(port.Queued(), "+junk");
}

TEST(AutomaticBrightness, WrongShortOrMissingEchoIsNotSet) {
  for (const std::string answer : {"LM", "la", "L"}) {
    ScriptedSignPort port;
    port.respond = Answers(answer);
    std::string reply;
    EXPECT_EQ(SetAutomaticBrightness(port, reply, 0ms), kNotSet) << answer;
  }
  // A silent sign after a success: the earlier echo in the buffer does not count.
  ScriptedSignPort port;
  port.respond = Answers();
  std::string reply;
  ASSERT_EQ(SetAutomaticBrightness(port, reply, 0ms), "Установлена автоматическая яркость.");
  port.respond = [](const std::string&) { return std::nullopt; };
  EXPECT_EQ(SetAutomaticBrightness(port, reply, 0ms), kNotSet);
  EXPECT_EQ(port.sent, (std::vector<std::string>{"LA", "LA"}));
}

TEST(ManualBrightness, LevelComesFromTheFieldAndBlankIsZero) {
  for (const auto& [text, command] : std::vector<std::pair<std::string, std::string>>{
           {" ", "LM0"}, {"", "LM0"}, {"0", "LM0"}, {"7", "LM7"}, {"9", "LM9"}}) {
    ScriptedSignPort port;
    port.respond = Answers();
    std::string reply;
    EXPECT_EQ(SetManualBrightness(port, text, reply, 0ms),
              "Установлена ручная яркость: " + command.substr(2))
        << "field \"" << text << "\"";
    EXPECT_EQ(port.sent, std::vector<std::string>{command}) << "field \"" << text << "\"";
    EXPECT_EQ(reply, command);
  }
}

TEST(ManualBrightness, EchoWithAnotherDigitOrTooShortIsNotSet) {
  for (const std::string answer : {"LM6", "LA7", "LM"}) {
    ScriptedSignPort port;
    port.respond = Answers(answer);
    std::string reply;
    EXPECT_EQ(SetManualBrightness(port, "7", reply, 0ms), kNotSet) << answer;
  }
  ScriptedSignPort port;
  port.respond = Answers();
  std::string reply;
  ASSERT_NE(SetManualBrightness(port, "7", reply, 0ms), kNotSet);
  port.respond = [](const std::string&) { return std::nullopt; };
  EXPECT_EQ(SetManualBrightness(port, "7", reply, 0ms), kNotSet);
}

TEST(Brightness, WaitingForBytesTakesTheEchoWhenItsLengthHasArrived) {
  using sign_exchange::AnswerWait;
  struct Case {
    std::function<std::string(SignPort&, std::string&)> command;
    std::vector<std::string> trace;
    std::string echo;
  };
  const Case cases[] = {
      {[](SignPort& port, std::string& reply) {
         return SetAutomaticBrightness(port, reply, 1000ms, AnswerWait::ForBytes);
       },
       {"purge", "send LA", "wait 4", "read 2"},
       "LA"},
      {[](SignPort& port, std::string& reply) {
         return SetManualBrightness(port, "7", reply, 1000ms, AnswerWait::ForBytes);
       },
       {"purge", "send LM7", "wait 5", "read 3"},
       "LM7"},
  };
  for (const Case& c : cases) {
    ScriptedSignPort port;
    // Due later than any look at the queue: only a wait for the bytes sees it.
    port.respond = [](const std::string& sent) -> std::optional<Answer> {
      return Answer{sent + "??", 100};
    };
    std::string reply;
    EXPECT_NE(c.command(port, reply), kNotSet) << c.echo;
    EXPECT_EQ(port.trace, c.trace);
    EXPECT_EQ(reply, c.echo);
  }
}

TEST(Brightness, ClosedPortRaisesThePurgeErrorAndSendsNothing) {
  ScriptedSignPort port;
  port.closed = true;
  std::string reply;
  try {
    SetAutomaticBrightness(port, reply, 0ms);
    FAIL() << "expected the purge error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), kErrPurge);
  }
  EXPECT_THROW(SetManualBrightness(port, "5", reply, 0ms), EComPort);
  EXPECT_TRUE(port.sent.empty());
}

// ---- over a pseudo-terminal, against the sign simulator, with the fixed waits

TEST(BrightnessOnTheLine, SignTakesTheLevelsAndEchoesThem) {
  tarvo::test::SimulatedSign sim;
  sim.Sign().SetBrightness(5);
  sim.Sign().UpdateFaults([](sign_sim::SignFaults& f) { f.extraAfterAnswer = "??"; });
  std::string reply;

  EXPECT_EQ(SetManualBrightness(sim.Link(), " ", reply), "Установлена ручная яркость: 0");
  EXPECT_EQ(sim.Sign().Brightness(), 0);
  EXPECT_EQ(SetManualBrightness(sim.Link(), "7", reply), "Установлена ручная яркость: 7");
  EXPECT_EQ(sim.Sign().Brightness(), 7);
  EXPECT_EQ(SetAutomaticBrightness(sim.Link(), reply), "Установлена автоматическая яркость.");
  EXPECT_EQ(sim.Sign().Brightness(), sign_sim::kBrightnessAutomatic);
  EXPECT_EQ(sim.Sign().Received(), (std::vector<std::string>{"LM0", "LM7", "LA"}));
}

TEST(BrightnessOnTheLine, WrongEchoOrSilenceIsNotSet) {
  tarvo::test::SimulatedSign sim;
  std::string reply;
  sim.Sign().UpdateFaults([](sign_sim::SignFaults& f) { f.wrongBrightnessEcho = true; });
  EXPECT_EQ(SetManualBrightness(sim.Link(), "7", reply), kNotSet);
  EXPECT_EQ(SetAutomaticBrightness(sim.Link(), reply), kNotSet);

  sim.Sign().SetFaults({});
  ASSERT_EQ(SetAutomaticBrightness(sim.Link(), reply), "Установлена автоматическая яркость.");
  sim.Sign().UpdateFaults([](sign_sim::SignFaults& f) { f.silent = true; });
  EXPECT_EQ(SetAutomaticBrightness(sim.Link(), reply), kNotSet);
  EXPECT_EQ(SetManualBrightness(sim.Link(), "3", reply), kNotSet);
}

TEST(BrightnessOnTheLine, PortNeverOpenedRaisesThePurgeError) {
  tarvo::test::SimulatedSign sim;
  TComPort closed;
  closed.SetPort("COM1");
  ComPortLink link(closed);
  std::string reply;
  try {
    SetManualBrightness(link, "4", reply);
    FAIL() << "expected the purge error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), kErrPurge);
  }
  EXPECT_EQ(sim.Sign().ReceivedCount(), 0u);
}

}  // namespace

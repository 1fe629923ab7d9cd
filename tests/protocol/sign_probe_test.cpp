// The search's probe waiting for the bytes, against the sign simulator: which
// answers count as a sign, with one request and no read delay slept. The
// window's paced probe is covered by the search's tests.
#include "protocol/sign_probe.h"

#include <gtest/gtest.h>

#include "protocol/read_sign.h"
#include "tests/protocol/exchange_recorder.h"
#include "tests/protocol/simulated_sign.h"
#include "tests/support/wait_for.h"

namespace {

TEST(ProbeWaitingForBytes, OnlyAnAnswerBeginningT0IsASign) {
  struct Case {
    const char* name;
    sign_sim::SignFaults faults;
    bool sign;
    std::string buffer;
  };
  sign_sim::SignFaults noT;
  noT.replyWithoutT = true;
  sign_sim::SignFaults silent;
  silent.silent = true;
  const Case cases[] = {
      {"sign", {}, true, "T0----00"},
      {"answer without T", noT, false, "X0----00"},
      {"silent", silent, false, "==========="},
  };
  for (const Case& c : cases) {
    tarvo::test::SimulatedSign sim;
    sim.Sign().SetFaults(c.faults);
    tarvo::test::ExchangeRecorder window;

    EXPECT_EQ(sign_exchange::ProbeAnswersLikeSign(
                  sim.Link(), window.WaitingForBytes(c.faults.silent ? 20 : 2000), 200),
              c.sign)
        << c.name;
    EXPECT_EQ(window.replyBuffer.substr(0, c.buffer.size()), c.buffer) << c.name;
    EXPECT_TRUE(tarvo::test::WaitFor([&] { return sim.Sign().ReceivedCount() >= 1; }));
    EXPECT_EQ(sim.Sign().Received(), std::vector<std::string>{"R0E"}) << c.name;
    EXPECT_EQ(window.delayAsks, 0) << c.name << ": no read delay is slept";
  }
}

}  // namespace

TEST(ProbeWaitingForBytes, LeavesNoPartOfTheReplyToArriveAfterItOnATimedLine) {
  tarvo::test::SimulatedSign sim;
  sim.Sign().SetLineRate(19200);
  sim.Sign().SetPanel(0, {"1234", '2', '1'});
  tarvo::test::ExchangeRecorder window;
  const sign_exchange::ExchangeContext context = window.WaitingForBytes(2000);

  ASSERT_TRUE(sign_exchange::ProbeAnswersLikeSign(sim.Link(), context, 200));
  // The next exchange, straight after, sees its own answer only.
  EXPECT_TRUE(sign_exchange::ReadPanel(sim.Link(), 0, context));
  EXPECT_EQ(sim.Sign().ReceivedCount(), 2u) << "the read needed another attempt";
}

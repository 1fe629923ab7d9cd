// Each message of the sign link, through a real pseudo-terminal. Expected
// replies are worked out by hand: "T", address, record, "00", "OK", then the
// exclusive-or of those twelve bytes in uppercase hex.
#include <vector>

#include "tests/sim/sim_fixture.h"

namespace tarvo::test {
namespace {

using SignMessages = SimulatedSign;

TEST_F(SignMessages, ReadRequestGetsThePanelReplyOfEveryAddress) {
  const std::vector<std::pair<const char*, const char*>> untouched = {
      {"R0E", "T0----0000OK60"}, {"R1E", "T1----0000OK61"}, {"R2E", "T2----0000OK62"},
      {"R3E", "T3----0000OK63"}, {"R4E", "T4----0000OK64"}, {"R8E", "T8----0000OK68"},
      {"R9E", "T9----0000OK69"}, {"R:E", "T:----0000OK6A"}, {"R;E", "T;----0000OK6B"},
      {"R<E", "T<----0000OK6C"}};
  for (const auto& [request, reply] : untouched) EXPECT_EQ(Ask(request, 14), reply) << request;

  sign.SetPanel(0, {"1234", '2', '1'});
  sign.SetPanel(11, {"1234", '3', '1'});
  EXPECT_EQ(Ask("R0E", 14), "T012342100OK67");
  EXPECT_EQ(Ask("R;E", 14), "T;12343100OK6D");
}

TEST_F(SignMessages, GoodWriteFrameIsStoredAndAcknowledged) {
  EXPECT_EQ(Ask("W8456030E2E", 5), "WOK2E");
  EXPECT_EQ(sign.Panel(8), (sign_link::PanelRecord{"4560", '3', '0'}));
  EXPECT_EQ(Ask("R8E", 14), "T845603000OK6C");
  line.Send("W<----30E");  // a frame may arrive in pieces
  EXPECT_EQ(Ask("2D", 5), "WOK2D");
  EXPECT_EQ(sign.Panel(12), (sign_link::PanelRecord{"----", '3', '0'}));
}

TEST_F(SignMessages, WriteFrameWithBadCheckCodeIsNeitherStoredNorAnswered) {
  line.Send("W8456030E2F");
  line.Send("W8456030e2e");
  ExpectNextAnswerIsTo("R8E", "T8----0000OK68");
  EXPECT_EQ(sign.Received(), (std::vector<std::string>{"W8456030E2F", "W8456030e2e", "R8E"}));
}

TEST_F(SignMessages, BrightnessCommandsAreEchoedAndKept) {
  EXPECT_EQ(sign.Brightness(), sign_sim::kBrightnessAutomatic);
  EXPECT_EQ(Ask("LM7", 3), "LM7");
  EXPECT_EQ(sign.Brightness(), 7);
  EXPECT_EQ(Ask("LM0", 3), "LM0");
  EXPECT_EQ(sign.Brightness(), 0);
  EXPECT_EQ(Ask("LA", 2), "LA");
  EXPECT_EQ(sign.Brightness(), sign_sim::kBrightnessAutomatic);
}

TEST_F(SignMessages, AddressesWithoutAPanelGetNoAnswer) {
  line.Send("R5E");
  line.Send("R7E");
  line.Send("W5123421E" + sign_link::CheckCode("W5123421E"));
  ExpectNextAnswerIsTo("R0E", "T0----0000OK60");
  EXPECT_EQ(sign.ReceivedCount(), 4u);
}

TEST_F(SignMessages, BytesThatFitNoMessageAreDroppedAndTheNextMessageAnswered) {
  EXPECT_EQ(Ask("xxR0E", 14), "T0----0000OK60");
  EXPECT_EQ(Ask("RRR1E", 14), "T1----0000OK61");
  EXPECT_EQ(Ask("LXLMxR2E", 14), "T2----0000OK62");
  line.Send("W0R3E");  // a "W" could still start a frame: held
  // ...and let go once the frame cannot be one ("R", not "E", at offset 8).
  EXPECT_EQ(Ask("R4ER0E", 42), "T3----0000OK63T4----0000OK64T0----0000OK60");
  EXPECT_EQ(sign.Received(), (std::vector<std::string>{"xx", "R0E", "RR", "R1E", "LXLMx", "R2E",
                                                       "W0", "R3E", "R4E", "R0E"}));
}

TEST_F(SignMessages, StartOfAMessageThatNeverCompletesIsDroppedAfterAPause) {
  line.Send("W0123");
  ASSERT_TRUE(WaitFor([&] { return sign.ReceivedCount() == 1; }));
  EXPECT_EQ(sign.Received().front(), "W0123");
  EXPECT_EQ(Ask("R0E", 14), "T0----0000OK60");
}

TEST_F(SignMessages, ReceivedAndAnsweredListTheExchangeInOrderUntilCleared) {
  Ask("R0E", 14);
  Ask("LA", 2);
  EXPECT_EQ(sign.Received(), (std::vector<std::string>{"R0E", "LA"}));
  EXPECT_EQ(sign.Answered(), (std::vector<std::string>{"T0----0000OK60", "LA"}));
  sign.ClearReceived();
  EXPECT_EQ(sign.ReceivedCount(), 0u);
  EXPECT_EQ(sign.AnsweredCount(), 0u);
}

}  // namespace
}  // namespace tarvo::test

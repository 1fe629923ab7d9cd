// Each fault switch, through a real pseudo-terminal. No test reads the clock:
// a fault that holds an answer back is shown by what has not gone out yet.
#include <algorithm>

#include "tests/sim/sim_fixture.h"

namespace tarvo::test {
namespace {

using sign_sim::SignFaults;
using SignFaultsTest = SimulatedSign;

std::string WithoutNuls(std::string bytes) {
  bytes.erase(std::remove(bytes.begin(), bytes.end(), '\0'), bytes.end());
  return bytes;
}

TEST_F(SignFaultsTest, SilentSignTakesEverythingInAndAnswersNothing) {
  sign.SetFaults({.silent = true});
  line.Send("R0E");
  line.Send("W0123421E25");
  line.Send("LM4");
  ASSERT_TRUE(WaitFor([&] { return sign.ReceivedCount() == 3; }));
  EXPECT_EQ(sign.Panel(0), (sign_link::PanelRecord{"1234", '2', '1'}));
  EXPECT_EQ(sign.Brightness(), 4);
  sign.SetFaults({});
  ExpectNextAnswerIsTo("R1E", "T1----0000OK61");
}

TEST_F(SignFaultsTest, AnswerDelayHoldsTheAnswerBack) {
  sign.SetFaults({.answerDelayMs = 600'000});
  line.Send("R0E");
  ASSERT_TRUE(WaitFor([&] { return sign.ReceivedCount() == 1; }));
  EXPECT_EQ(sign.AnsweredCount(), 0u) << "answered at once despite the delay";
  EXPECT_EQ(line.ReadAvailable(), "");

  sign_sim::SimSign& quick = sim.AddSign("COM4");
  quick.SetFaults({.answerDelayMs = 5});
  ProgramLine other(quick.LinkPath());
  other.Send("LA");
  EXPECT_EQ(other.ReadExactly(2), "LA") << "a short delay still answers";
}

TEST_F(SignFaultsTest, DribbledAnswerGoesOutOneByteAtATime) {
  sign.SetFaults({.dribbleGapMs = 600'000});
  EXPECT_EQ(Ask("R0E", 1), "T");
  EXPECT_EQ(line.ReadAvailable(), "") << "the second byte came without its gap";
  EXPECT_EQ(sign.AnsweredCount(), 0u);

  sign_sim::SimSign& slow = sim.AddSign("COM4");
  slow.SetFaults({.dribbleGapMs = 1});
  ProgramLine other(slow.LinkPath());
  other.Send("R0E");
  EXPECT_EQ(other.ReadExactly(14), "T0----0000OK60");
}

TEST_F(SignFaultsTest, WrongCheckDigitsLastForTheNextNRepliesOnly) {
  sign.SetFaults({.wrongFirstCheckDigit = 2, .wrongSecondCheckDigit = 1});
  const std::string first = Ask("R0E", 14);
  const std::string second = Ask("R0E", 14);
  EXPECT_EQ(first.substr(0, 12), "T0----0000OK");
  EXPECT_NE(first[12], '6');
  EXPECT_NE(first[13], '0');
  EXPECT_NE(second[12], '6');
  EXPECT_EQ(second[13], '0');
  EXPECT_FALSE(sign_link::ReplyCheckCodeMatches(first)) << first;
  EXPECT_FALSE(sign_link::ReplyCheckCodeMatches(second)) << second;
  EXPECT_EQ(sign.Faults(), SignFaults{}) << "countdowns not used up";
  EXPECT_EQ(Ask("R0E", 14), "T0----0000OK60");
}

TEST_F(SignFaultsTest, LowercaseCheckCodeSpoilsOnlyLetterDigits) {
  sign.SetFaults({.lowercaseCheckCode = true});
  EXPECT_EQ(Ask("R<E", 14), "T<----0000OK6c");
  EXPECT_EQ(Ask("R0E", 14), "T0----0000OK60");
}

TEST_F(SignFaultsTest, RepliesWithoutTOrOkKeepAMatchingCheckCode) {
  sign.SetFaults({.replyWithoutT = true});
  const std::string noT = Ask("R0E", 14);
  EXPECT_NE(noT[0], 'T') << noT;
  EXPECT_TRUE(sign_link::ReplyCheckCodeMatches(noT)) << noT;

  sign.SetFaults({.replyWithoutOk = true});
  const std::string noOk = Ask("R0E", 14);
  EXPECT_EQ(noOk[0], 'T') << noOk;
  EXPECT_NE(noOk.substr(10, 2), "OK") << noOk;
  EXPECT_TRUE(sign_link::ReplyCheckCodeMatches(noOk)) << noOk;
}

TEST_F(SignFaultsTest, ShortReplyIsCut) {
  sign.SetFaults({.replyLength = 11});
  line.Send("R0E");
  ExpectNextAnswerIsTo("LA", "T0----0000OLA");
}

TEST_F(SignFaultsTest, NulsAndExtraBytesShapeEveryKindOfAnswer) {
  sign.SetFaults({.nulsBetweenBytes = 2, .extraAfterAnswer = "xy"});
  EXPECT_EQ(Ask("LA", 10), std::string("L\0\0A\0\0x\0\0y", 10));
  // 16 bytes with 2 NULs in each of the 15 gaps; 7 bytes with 12 NULs.
  EXPECT_EQ(WithoutNuls(Ask("R0E", 46)), "T0----0000OK60xy");
  EXPECT_EQ(WithoutNuls(Ask("W0123421E25", 19)), "WOK25xy");
  ExpectNextAnswerIsTo("LA", std::string("L\0\0A\0\0x\0\0y", 10));  // and nothing more before it
}

TEST_F(SignFaultsTest, RefusedWritesAreNotStoredUntilTheCountIsUsedUp) {
  sign.SetFaults({.refusedWrites = 1});
  line.Send("W0123421E25");
  line.Send("W0123421E25");  // the program sends every frame twice
  EXPECT_EQ(line.ReadExactly(5), "WOK25");
  EXPECT_EQ(sign.Received().size(), 2u);
  EXPECT_EQ(sign.AnsweredCount(), 1u) << "the refused copy was answered";
  EXPECT_EQ(sign.Panel(0), (sign_link::PanelRecord{"1234", '2', '1'}));
}

TEST_F(SignFaultsTest, WrongBrightnessEchoStillSetsTheBrightness) {
  sign.SetFaults({.wrongBrightnessEcho = true});
  EXPECT_EQ(Ask("LM7", 3), "LM8");
  EXPECT_EQ(sign.Brightness(), 7);
  EXPECT_EQ(Ask("LM9", 3), "LM0");
  EXPECT_EQ(Ask("LA", 2), "LM");
  EXPECT_EQ(sign.Brightness(), sign_sim::kBrightnessAutomatic);
}

TEST_F(SignFaultsTest, FaultsCanBeEditedWhileTheSignRuns) {
  sign.UpdateFaults([](SignFaults& f) { f.extraAfterAnswer = "!"; });
  EXPECT_EQ(Ask("LA", 3), "LA!");
  sign.UpdateFaults([](SignFaults& f) { f.wrongBrightnessEcho = true; });
  EXPECT_EQ(Ask("LA", 3), "LM!");
  EXPECT_EQ(sign.Faults(), (SignFaults{.extraAfterAnswer = "!", .wrongBrightnessEcho = true}));
}

}  // namespace
}  // namespace tarvo::test

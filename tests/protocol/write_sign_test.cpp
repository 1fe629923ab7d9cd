// The write of all ten panels and the acknowledgement wait against a scripted
// sign: frames and their order, transmissions per frame, the exact trace in
// the exchange log, progress, and port errors.
#include "protocol/write_sign.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "protocol/read_sign.h"
#include "tests/protocol/exchange_recorder.h"
#include "tests/protocol/scripted_sign_port.h"
#include "tests/protocol/simulated_sign.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/pty_pair.h"
#include "tests/support/wait_for.h"

namespace {

using sign_exchange::FrameOutcome;
using sign_exchange::WaitWriteAck;
using sign_exchange::WriteSign;
using sign_link::EntryRow;
using tarvo::test::ExchangeRecorder;
using tarvo::test::ScriptedSignPort;
using tarvo::test::SimulatedSign;
using Answer = ScriptedSignPort::Answer;

const std::string kBlanks14(14, ' ');

// Five rows that between them use every rule of the panel record. Their
// frames were worked out by hand.
std::map<int, EntryRow> MixedRows() {
  return {
      {5, {false, true, false, 1, "12.34"}},   // 92, "Надпись 1"
      {4, {false, true, true, 3, "4 .5 "}},    // 40.50 as the field gives it, both boxes
      {3, {true, false, false, 2, "12.34"}},   // "Не исп.", 95
      {2, {false, true, false, -1, "  .  "}},  // no grade selected, empty price
      {1, {false, false, false, 4, "--.--"}},  // a price read back as --.--, ДТ
  };
}
const std::vector<std::string> kMixedFrames = {
    "W0123421E25", "W8123421E2D", "W1405042E24", "W9405042E2C", "W2----30E23",
    "W:----30E2B", "W3000001E20", "W;000001E28", "W4----50E23", "W<----50E2B",
};

ScriptedSignPort::Responder AcknowledgesEveryFrame(const std::string& answer = "WOK") {
  return [answer](const std::string&) -> std::optional<Answer> { return Answer{answer, 1}; };
}

std::vector<std::string> Twice(const std::vector<std::string>& frames, int times) {
  std::vector<std::string> out;
  for (const std::string& f : frames) out.insert(out.end(), static_cast<size_t>(times), f);
  return out;
}

TEST(WriteSign, SendsEachRowToBothPanelsBottomUpTwiceWhenAcknowledgedAtOnce) {
  ScriptedSignPort port;
  port.respond = AcknowledgesEveryFrame();
  ExchangeRecorder window;
  auto rows = MixedRows();

  const auto outcomes = WriteSign(
      port, [&](int row) { return rows.at(row); }, window.Context());

  EXPECT_EQ(port.sent, Twice(kMixedFrames, 2));
  EXPECT_EQ(window.progress, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 8, 8}));
  ASSERT_EQ(outcomes.size(), 10u);
  for (size_t i = 0; i < outcomes.size(); ++i) {
    EXPECT_EQ(outcomes[i].frame, kMixedFrames[i]);
    EXPECT_TRUE(outcomes[i].acknowledged) << kMixedFrames[i];
    EXPECT_EQ(window.LinesEqualTo("Запишу " + std::to_string(i) + " панель:" + kMixedFrames[i]), 1)
        << "label of frame " << i;
  }
  EXPECT_EQ(outcomes[9].address, 12);
  EXPECT_EQ(window.LinesEqualTo("--- Жду ответ после записи данных ---"), 10);
  // The queues are discarded once before the first frame and after each
  // frame's second transmission.
  EXPECT_EQ(std::vector<std::string>(port.trace.begin(), port.trace.begin() + 4),
            (std::vector<std::string>{"purge", "send W0123421E25", "send W0123421E25", "purge"}));
  EXPECT_EQ(window.replyBuffer, "W<----50E2B");
}

TEST(WriteSign, SilentSignGetsEveryFrameFourTimesAndNoOutcomeStopsTheWrite) {
  ScriptedSignPort port;
  ExchangeRecorder window;
  auto rows = MixedRows();

  const auto outcomes = WriteSign(
      port, [&](int row) { return rows.at(row); }, window.Context());

  EXPECT_EQ(port.sent, Twice(kMixedFrames, 4));
  EXPECT_EQ(window.LinesEqualTo("Ошибка чтения!!! "), 30);
  for (const FrameOutcome& o : outcomes) EXPECT_FALSE(o.acknowledged) << o.frame;
  std::vector<std::string> attempt = {"--- Жду ответ после записи данных ---"};
  attempt.insert(attempt.end(), 8, "Принято символов:0");
  attempt.insert(attempt.end(), {"8 попыток чтения прошло. Задержка 1мс", "Ошибка чтения!!! ",
                                 "Принял:" + kBlanks14});
  ASSERT_GE(window.log.size(), 1 + 3 * attempt.size() + 1);
  EXPECT_EQ(window.log[0], "Запишу 0 панель:W0123421E25");
  for (size_t a = 0; a < 3; ++a) {
    const auto begin = window.log.begin() + static_cast<long>(1 + a * attempt.size());
    EXPECT_EQ(std::vector<std::string>(begin, begin + static_cast<long>(attempt.size())), attempt)
        << "attempt " << a + 1;
  }
  EXPECT_EQ(window.log[1 + 3 * attempt.size()], "Запишу 1 панель:W8123421E2D");
}

TEST(WriteSign, ARowTheLinkCannotCarryIsNotSentAndTheOthersAre) {
  ScriptedSignPort port;
  port.respond = AcknowledgesEveryFrame();
  ExchangeRecorder window;
  auto rows = MixedRows();
  rows[3].notUsed = false;
  rows[3].priceText = " 1. ~";  // a read put a byte in the field that no price has

  const auto outcomes = WriteSign(
      port, [&](int row) { return rows.at(row); }, window.Context());

  std::vector<std::string> sendable = kMixedFrames;
  sendable.erase(sendable.begin() + 4, sendable.begin() + 6);
  EXPECT_EQ(port.sent, Twice(sendable, 2));
  EXPECT_FALSE(outcomes[4].acknowledged);
  EXPECT_EQ(window.progress, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 8, 8}));
}

TEST(WriteSign, RowIsTakenFromItsControlsWhenItsTurnComes) {
  ScriptedSignPort port;
  auto rows = MixedRows();
  std::vector<int> asked;
  port.respond = [&](const std::string& sent) -> std::optional<Answer> {
    if (sent.rfind("W3", 0) == 0) rows[1].priceText = "77.77";  // typed during the write
    return Answer{"WOK", 1};
  };
  ExchangeRecorder window;

  const auto outcomes = WriteSign(
      port,
      [&](int row) {
        asked.push_back(row);
        return rows.at(row);
      },
      window.Context());

  EXPECT_EQ(asked, (std::vector<int>{5, 4, 3, 2, 1}));
  EXPECT_EQ(outcomes[8].frame.substr(0, 9), "W4777750E");
  EXPECT_EQ(outcomes[9].frame.substr(0, 9), "W<777750E");
}

TEST(WriteSign, PortErrorEndsTheWriteAtTheFailingOperation) {
  auto rows = MixedRows();
  const auto source = [&](int row) { return rows.at(row); };
  {
    ScriptedSignPort port;
    port.closed = true;
    ExchangeRecorder window;
    bool asked = false;
    try {
      WriteSign(
          port,
          [&](int row) {
            asked = true;
            return rows.at(row);
          },
          window.Context());
      FAIL() << "expected the purge error on a closed port";
    } catch (const EComPort& e) {
      EXPECT_EQ(e.ErrorCode(), kErrPurge);
    }
    EXPECT_TRUE(port.sent.empty());
    EXPECT_FALSE(asked);
  }
  {
    ScriptedSignPort port;
    port.respond = [&](const std::string& sent) -> std::optional<Answer> {
      if (sent.rfind("W9", 0) == 0) port.closed = true;  // unplugged during frame 4
      return Answer{"WOK", 1};
    };
    ExchangeRecorder window;
    EXPECT_THROW(WriteSign(port, source, window.Context()), EComPort);
    EXPECT_EQ(port.sent.back().substr(0, 2), "W9");
    EXPECT_EQ(port.sent.size(), 7u);
  }
}

TEST(WaitWriteAck, AcknowledgedAttemptIsTracedExactly) {
  ScriptedSignPort port;
  int answers = 0;
  port.respond = [&](const std::string&) -> std::optional<Answer> {
    if (answers++ > 0) return std::nullopt;
    return Answer{"WOK12", 1};
  };
  ExchangeRecorder window;
  window.replyBuffer = "W0123421E25";
  window.readDelayMs = 3;

  EXPECT_TRUE(WaitWriteAck(port, window.Context()));

  EXPECT_EQ(port.trace, (std::vector<std::string>{"send W0123421E25", "purge", "count 5", "count 5",
                                                  "read 5"}));
  EXPECT_EQ(window.log, (std::vector<std::string>{
                            "--- Жду ответ после записи данных ---",
                            "Принято символов:5",
                            "1 попыток чтения прошло. Задержка 3мс",
                            "Принял:WOK12",
                            "Принятые данные верные:WOK12",
                        }));
}

TEST(WaitWriteAck, AcceptsOnlyAnswersThatBeginWithWok) {
  for (const std::string answer : {"WOK", "WOK12", "WOK1234"}) {
    ScriptedSignPort port;
    port.respond = AcknowledgesEveryFrame(answer);
    ExchangeRecorder window;
    window.replyBuffer = "W0123421E25";
    EXPECT_TRUE(WaitWriteAck(port, window.Context())) << answer;
    EXPECT_EQ(port.sent.size(), 1u) << answer;
    EXPECT_EQ(window.LinesEqualTo("Принял:" + answer.substr(0, 5)), 1) << answer;
  }
  for (const std::string answer : {"xWOK1", "wok12", "WOX", "WO"}) {
    ScriptedSignPort port;
    port.respond = AcknowledgesEveryFrame(answer);
    ExchangeRecorder window;
    window.replyBuffer = "W0123421E25";
    EXPECT_FALSE(WaitWriteAck(port, window.Context())) << answer;
    EXPECT_EQ(port.sent.size(), 3u) << answer;
    EXPECT_EQ(window.LinesEqualTo("Принятые данные верные:" + answer), 0) << answer;
  }
}

TEST(WaitWriteAck, AnswerThatOnlyTheEighthPollFindsIsNotRead) {
  // Each poll counts twice: once for the log, once for the test. An answer
  // arriving at count 14 is seen by the seventh poll's test; at 15 or 16 only
  // by the eighth poll.
  for (const int arrival : {14, 15, 16}) {
    ScriptedSignPort port;
    int sends = 0;
    port.respond = [&](const std::string&) -> std::optional<Answer> {
      return Answer{"WOK", ++sends == 1 ? arrival : 1};
    };
    ExchangeRecorder window;
    window.replyBuffer = "W0123421E25";

    EXPECT_TRUE(WaitWriteAck(port, window.Context())) << "arrival at count " << arrival;
    const bool readAtSeventh = arrival == 14;
    EXPECT_EQ(port.sent.size(), readAtSeventh ? 1u : 2u) << "arrival at count " << arrival;
    EXPECT_EQ(window.LinesEqualTo(readAtSeventh ? "7 попыток чтения прошло. Задержка 1мс"
                                                : "8 попыток чтения прошло. Задержка 1мс"),
              1)
        << "arrival at count " << arrival;
    EXPECT_EQ(window.LinesEqualTo("Ошибка чтения!!! "), readAtSeventh ? 0 : 1)
        << "arrival at count " << arrival;
  }
}

TEST(MakeCheckCode, CoversTheFrameBodyOnly) {
  EXPECT_EQ(sign_exchange::MakeCheckCode("W0123421E"), "25");
  EXPECT_EQ(sign_exchange::MakeCheckCode("W0123421E25"), "25");
}

// ---- over a pseudo-terminal, against the sign simulator. The write discards
// its input right after a frame's second transmission, so the sign answers a
// little later, and the read delay leaves room for that answer.

constexpr int kSimAnswerDelayMs = 20;
constexpr int kSimReadDelayMs = 50;

std::vector<std::string> WritesReceived(const sign_sim::SimSign& sign) {
  std::vector<std::string> writes;
  for (const std::string& m : sign.Received()) {
    if (m.rfind("W", 0) == 0) writes.push_back(m);
  }
  return writes;
}

TEST(WriteSignOnTheLine, SignHoldsWhatWasWrittenAndReadsItBack) {
  SimulatedSign sim;
  sim.Sign().UpdateFaults([](sign_sim::SignFaults& f) { f.answerDelayMs = kSimAnswerDelayMs; });
  ExchangeRecorder window;
  window.readDelayMs = kSimReadDelayMs;
  auto rows = MixedRows();

  const auto outcomes = WriteSign(
      sim.Link(), [&](int row) { return rows.at(row); }, window.Context());
  const auto readings = sign_exchange::ReadSign(sim.Link(), window.Context(),
                                                [](const sign_exchange::PanelReading&) {});

  EXPECT_EQ(WritesReceived(sim.Sign()), Twice(kMixedFrames, 2));
  for (const FrameOutcome& o : outcomes) EXPECT_TRUE(o.acknowledged) << o.frame;
  const sign_link::PanelRecord row4{"4050", '4', '2'};
  EXPECT_EQ(sim.Sign().Panel(1), row4);
  EXPECT_EQ(sim.Sign().Panel(9), row4);
  std::map<uint8_t, std::string> prices;
  for (const auto& r : readings) {
    EXPECT_TRUE(r.good) << int(r.step.address);
    prices[r.step.address] = r.priceText;
  }
  EXPECT_EQ(prices, (std::map<uint8_t, std::string>{{0, "12.34"},
                                                    {8, "12.34"},
                                                    {1, "40.50"},
                                                    {9, "40.50"},
                                                    {2, "--.--"},
                                                    {10, "--.--"},
                                                    {3, "00.00"},
                                                    {11, "00.00"},
                                                    {4, "--.--"},
                                                    {12, "--.--"}}));
  EXPECT_EQ(readings[4].view.gradeIndex, 4);
  EXPECT_EQ(readings[3].view.gradeIndex, -1);
}

TEST(WriteSignOnTheLine, SilentSignGetsEveryFrameFourTimes) {
  SimulatedSign sim;
  sim.Sign().UpdateFaults([](sign_sim::SignFaults& f) { f.silent = true; });
  ExchangeRecorder window;
  window.readDelayMs = 2;
  auto rows = MixedRows();

  const auto outcomes = WriteSign(
      sim.Link(), [&](int row) { return rows.at(row); }, window.Context());

  // The last copy may still be on its way when the write gives up.
  EXPECT_TRUE(tarvo::test::WaitFor([&] { return sim.Sign().ReceivedCount() >= 40; }));
  EXPECT_EQ(WritesReceived(sim.Sign()), Twice(kMixedFrames, 4));
  EXPECT_EQ(window.LinesEqualTo("Ошибка чтения!!! "), 30);
  for (const FrameOutcome& o : outcomes) EXPECT_FALSE(o.acknowledged) << o.frame;
}

TEST(WriteSignOnTheLine, RefusedFrameIsSentAgainUntilTheSignTakesIt) {
  SimulatedSign sim;
  sim.Sign().UpdateFaults([](sign_sim::SignFaults& f) {
    f.answerDelayMs = kSimAnswerDelayMs;
    f.refusedWrites = 2;  // both copies of the first frame
  });
  ExchangeRecorder window;
  window.readDelayMs = kSimReadDelayMs;
  auto rows = MixedRows();

  const auto outcomes = WriteSign(
      sim.Link(), [&](int row) { return rows.at(row); }, window.Context());

  std::vector<std::string> expected = Twice(kMixedFrames, 2);
  expected.insert(expected.begin(), kMixedFrames[0]);
  EXPECT_EQ(WritesReceived(sim.Sign()), expected);
  for (const FrameOutcome& o : outcomes) EXPECT_TRUE(o.acknowledged) << o.frame;
  EXPECT_EQ(window.LinesEqualTo("Ошибка чтения!!! "), 1);
  EXPECT_EQ(sim.Sign().Panel(0), (sign_link::PanelRecord{"1234", '2', '1'}));
}

TEST(WriteSignOnTheLine, PortNeverOpenedFailsAtThePurgeAndSendsNothing) {
  SimulatedSign sim;
  TComPort closed;
  closed.SetPort("COM1");
  ComPortLink link(closed);
  ExchangeRecorder window;
  auto rows = MixedRows();

  try {
    WriteSign(
        link, [&](int row) { return rows.at(row); }, window.Context());
    FAIL() << "expected the purge error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), kErrPurge);
  }
  try {
    sign_exchange::ReadSign(link, window.Context(), [](const sign_exchange::PanelReading&) {});
    FAIL() << "expected the purge error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), kErrPurge);
  }
  EXPECT_EQ(sim.Sign().ReceivedCount(), 0u);
}

TEST(WriteSignOnTheLine, FrameSentRightBeforeThePurgeStillReachesTheSign) {
  // The acknowledgement wait discards both queues straight after sending; what
  // was sent must not be discarded with them, also on a pseudo-terminal.
  tarvo::test::HermeticEnv env;
  tarvo::test::PtyPair device;
  env.Publish("COM1", device.TerminalPath());
  TComPort port;
  port.SetPort("COM1");
  port.SetBaudRate(br19200);
  port.OpenPort();
  for (int i = 0; i < 50; ++i) {
    port.SendText("W0123421E25");
    port.PurgeBuffers(true, true);
    ASSERT_EQ(device.ReadAtLeast(11), "W0123421E25") << "send " << i + 1;
  }
}

TEST(WriteSignWaitingForBytes, EachAttemptSendsItsFrameOnceAndTheSignReadsBack) {
  struct Case {
    const char* name;
    sign_sim::SignFaults faults;
    int answerTimeoutMs;
    std::vector<std::string> frames;
    bool acknowledged;
  };
  sign_sim::SignFaults refusedOnce;
  refusedOnce.refusedWrites = 1;
  sign_sim::SignFaults silent;
  silent.silent = true;
  std::vector<std::string> firstTwice = kMixedFrames;
  firstTwice.insert(firstTwice.begin(), kMixedFrames[0]);
  const Case cases[] = {
      {"acknowledged at once", {}, 2000, kMixedFrames, true},
      // Its refused send waits out the answer time, and twice that passes
      // after it before the next frame: generous, not long.
      {"first frame refused once", refusedOnce, 500, firstTwice, true},
      {"silent", silent, 20, Twice(kMixedFrames, 3), false},
  };
  for (const Case& c : cases) {
    SimulatedSign sim;
    sim.Sign().SetFaults(c.faults);
    ExchangeRecorder window;
    const auto context = window.WaitingForBytes(c.answerTimeoutMs);
    auto rows = MixedRows();

    const auto outcomes = WriteSign(
        sim.Link(), [&](int row) { return rows.at(row); }, context);

    const size_t sent = c.frames.size();
    EXPECT_TRUE(tarvo::test::WaitFor([&] { return sim.Sign().ReceivedCount() >= sent; })) << c.name;
    EXPECT_EQ(WritesReceived(sim.Sign()), c.frames) << c.name;
    for (const FrameOutcome& o : outcomes) EXPECT_EQ(o.acknowledged, c.acknowledged) << o.frame;
    if (c.acknowledged) {
      const auto readings =
          sign_exchange::ReadSign(sim.Link(), context, [](const sign_exchange::PanelReading&) {});
      EXPECT_EQ(readings[1].priceText, "40.50") << c.name;
      EXPECT_EQ(sim.Sign().Panel(9), (sign_link::PanelRecord{"4050", '4', '2'})) << c.name;
    }
    EXPECT_EQ(window.delayAsks, 0) << c.name << ": no read delay is slept";
  }
}

// An acknowledgement carries no address: when a frame's first answer comes
// late, the answer to its second send, right behind it, must not be taken for
// the next frame's, which the sign refuses.
TEST(WritePanelWaitingForBytes, ALateAcknowledgementIsNotTakenForTheNextFrame) {
  SimulatedSign sim;
  sim.Sign().SetLineRate(19200);
  sim.Sign().UpdateFaults([](sign_sim::SignFaults& f) { f.answerDelayMs = 150; });
  ExchangeRecorder window;
  const auto context = window.WaitingForBytes(100);
  std::thread quicker([&] {
    tarvo::test::WaitFor([&] { return sim.Sign().ReceivedCount() >= 1; });
    sim.Sign().UpdateFaults([](sign_sim::SignFaults& f) { f.answerDelayMs = 0; });
  });

  const FrameOutcome late = sign_exchange::WritePanel(sim.Link(), 0, {"1234", '2', '1'}, context);
  quicker.join();
  sim.Sign().UpdateFaults([](sign_sim::SignFaults& f) { f.refusedWrites = 3; });
  const FrameOutcome refused =
      sign_exchange::WritePanel(sim.Link(), 8, {"5678", '2', '1'}, context);

  EXPECT_TRUE(late.acknowledged);
  EXPECT_FALSE(refused.acknowledged);
  EXPECT_EQ(sim.Sign().Panel(8).price, "----");
}

}  // namespace

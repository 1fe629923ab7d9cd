// The read of one panel and of the whole sign against a scripted sign: the
// exact trace in the exchange log, attempts, progress and decoding.
#include "protocol/read_sign.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/protocol/exchange_recorder.h"
#include "tests/protocol/scripted_sign_port.h"
#include "tests/protocol/simulated_sign.h"
#include "tests/support/wait_for.h"

namespace {

using sign_exchange::PanelReading;
using sign_exchange::ReadPanel;
using sign_exchange::ReadSign;
using tarvo::test::ExchangeRecorder;
using tarvo::test::ScriptedSignPort;
using tarvo::test::SimulatedSign;
using Answer = ScriptedSignPort::Answer;

const std::string kBlanks16(16, ' ');

// A panel reply for the address character and the six record characters.
std::string Reply(char address, const std::string& record, const std::string& tail = "00",
                  const std::string& ok = "OK") {
  const std::string head = std::string("T") + address + record + tail + ok;
  return head + sign_link::CheckCode(head);
}

// A sign that holds one record per read request and answers every request.
ScriptedSignPort::Responder SignHolding(std::map<std::string, std::string> replies,
                                        int afterCounts = 1) {
  return [replies, afterCounts](const std::string& sent) -> std::optional<Answer> {
    const auto it = replies.find(sent);
    if (it == replies.end()) return std::nullopt;
    return Answer{it->second, afterCounts};
  };
}

std::vector<std::string> Slice(const std::vector<std::string>& lines, size_t from, size_t n) {
  return {lines.begin() + static_cast<long>(from),
          lines.begin() + static_cast<long>(std::min(lines.size(), from + n))};
}

TEST(ReadPanel, GoodReplyAtFirstPollIsOneAttemptTracedExactly) {
  ScriptedSignPort port;
  port.respond = SignHolding({{"R0E", "T0123421ZZOK67"}});
  ExchangeRecorder window;
  window.readDelayMs = 2;

  EXPECT_TRUE(ReadPanel(port, 0, window.Context()));

  EXPECT_EQ(window.replyBuffer, "T0123421ZZOK67");
  EXPECT_EQ(window.log, (std::vector<std::string>{
                            "--- Читаю панель0 ---",
                            "Принято символов:14",
                            "1 попыток чтения прошло. Задержка 2мс",
                            "Принял:T0123421ZZOK67",
                            "Контрольная сумма принятая 67",
                            "Контрольная сумма расчитанная 67",
                        }));
  EXPECT_EQ(port.trace,
            (std::vector<std::string>{"purge", "send R0E", "count 14", "count 14", "read 14"}));
}

TEST(ReadPanel, SilentSignIsAskedSevenTimesAndLeavesBlanks) {
  ScriptedSignPort port;
  ExchangeRecorder window;
  window.replyBuffer = "earlier answer";

  EXPECT_FALSE(ReadPanel(port, 12, window.Context()));

  EXPECT_EQ(port.Count("R<E"), 7);
  EXPECT_EQ(port.sent.size(), 7u);
  EXPECT_EQ(window.replyBuffer, kBlanks16);
  ASSERT_EQ(window.log.size(), 7u * 10u);
  EXPECT_EQ(Slice(window.log, 0, 11),
            (std::vector<std::string>{
                "--- Читаю панель< ---", "Принято символов:0", "Принято символов:0",
                "Принято символов:0", "3 попыток чтения прошло. Задержка 1мс",
                "Мало принял данных ", "-----BigError Loop------ ", "Принял:" + kBlanks16,
                "Контрольная сумма принятая   ", "Контрольная сумма расчитанная 00",
                "--- Читаю панель< ---",  // the next attempt
            }));
}

TEST(ReadPanel, ShortAnswerCountsAsMissing) {
  ScriptedSignPort port;
  port.respond = SignHolding({{"R3E", "T3123421ZZOK"}});  // 12 bytes, no check code
  ExchangeRecorder window;

  EXPECT_FALSE(ReadPanel(port, 3, window.Context()));
  EXPECT_EQ(port.sent.size(), 7u);
  EXPECT_EQ(window.LinesEqualTo("Мало принял данных "), 7);
  EXPECT_EQ(window.replyBuffer, kBlanks16);
}

TEST(ReadPanel, WrongOrLowercaseCheckCodeIsRetriedAndThenDiscarded) {
  // The right codes are 67 and 6F; each reply misses in one digit or its case.
  for (const std::string& reply : {std::string("T0123421ZZOK66"), std::string("T0123421ZZOK57"),
                                   std::string("T01234:100OK6f")}) {
    ScriptedSignPort port;
    port.respond = SignHolding({{"R0E", reply}});
    ExchangeRecorder window;

    EXPECT_FALSE(ReadPanel(port, 0, window.Context())) << reply;
    EXPECT_EQ(port.sent.size(), 7u) << reply;
    EXPECT_EQ(window.LinesEqualTo("Принял:" + reply), 7) << reply;
    EXPECT_EQ(window.replyBuffer, kBlanks16) << reply;
  }
}

TEST(ReadPanel, RetryThatSucceedsStopsAsking) {
  ScriptedSignPort port;
  int requests = 0;
  port.respond = [&](const std::string&) -> std::optional<Answer> {
    ++requests;
    return Answer{requests < 3 ? "T0123421ZZOK76" : "T0123421ZZOK67", 1};
  };
  ExchangeRecorder window;

  EXPECT_TRUE(ReadPanel(port, 0, window.Context()));
  EXPECT_EQ(port.sent.size(), 3u);
  EXPECT_EQ(window.replyBuffer, "T0123421ZZOK67");
}

TEST(ReadPanel, TakesFourteenBytesAndLeavesTheRestForThePurge) {
  ScriptedSignPort port;
  port.respond = SignHolding({{"R0E", "T0123421ZZOK67extra!"}});
  ExchangeRecorder window;

  EXPECT_TRUE(ReadPanel(port, 0, window.Context()));
  EXPECT_EQ(window.replyBuffer, "T0123421ZZOK67");
  EXPECT_EQ(port.Queued(), "extra!");
  EXPECT_EQ(window.log[1], "Принято символов:20");
}

TEST(ReadPanel, ReplyCompletingAfterTheLastPollIsStillTaken) {
  ScriptedSignPort port;
  // Three polls count once each; the fourth count is the test before reading.
  port.respond = SignHolding({{"R0E", "T0123421ZZOK67"}}, 4);
  ExchangeRecorder window;

  EXPECT_TRUE(ReadPanel(port, 0, window.Context()));
  EXPECT_EQ(port.sent.size(), 1u);
  EXPECT_EQ(window.log[3], "Принято символов:0");
  EXPECT_EQ(window.log[4], "3 попыток чтения прошло. Задержка 1мс");
  EXPECT_EQ(window.log[5], "Принял:T0123421ZZOK67");
}

TEST(ReadSign, WalksTheTenPanelsInOrderWithTheirProgressAndDecodesEach) {
  std::map<std::string, std::string> replies;
  for (const auto& step : sign_exchange::kReadSteps) {
    const char a = sign_link::AddressChar(step.address);
    replies[sign_link::ReadRequest(step.address)] =
        Reply(a, std::string("1") + a + "0" + "5" + "52");
  }
  replies["R8E"] = Reply('8', "----03");  // grade code "0", both inscriptions
  ScriptedSignPort port;
  port.respond = SignHolding(replies);
  ExchangeRecorder window;
  std::vector<std::string> shown;
  std::vector<size_t> progressWhenShown;

  const auto readings = ReadSign(port, window.Context(), [&](const PanelReading& r) {
    shown.push_back(r.priceText);
    progressWhenShown.push_back(window.progress.size());
  });

  EXPECT_EQ(port.sent, (std::vector<std::string>{"R0E", "R1E", "R2E", "R3E", "R4E", "R<E", "R;E",
                                                 "R:E", "R9E", "R8E"}));
  EXPECT_EQ(window.progress, (std::vector<int>{1, 2, 3, 4, 4, 5, 5, 6, 7, 8, 0}));
  // Each panel is shown before the next one's progress step.
  EXPECT_EQ(progressWhenShown, (std::vector<size_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(shown, (std::vector<std::string>{"10.05", "11.05", "12.05", "13.05", "14.05", "1<.05",
                                             "1;.05", "1:.05", "19.05", "--.--"}));
  ASSERT_EQ(readings.size(), 10u);
  EXPECT_TRUE(readings[0].good);
  EXPECT_EQ(readings[0].view.gradeIndex, 4);
  EXPECT_FALSE(readings[0].view.inscription1);
  EXPECT_TRUE(readings[0].view.inscription2);
  EXPECT_EQ(readings[5].step.entryRow, 1);
  EXPECT_TRUE(readings[5].step.secondHalf);
  EXPECT_FALSE(readings[5].step.setsGradeAndInscriptions);
  EXPECT_TRUE(readings[9].good);
  EXPECT_EQ(readings[9].view.gradeIndex, -1);
  EXPECT_TRUE(readings[9].view.inscription1);
  EXPECT_TRUE(readings[9].view.inscription2);
  EXPECT_EQ(window.replyBuffer, replies["R8E"]);
  EXPECT_EQ(window.LinesEqualTo("Принятые данные ошибочные:" + kBlanks16), 0);
}

TEST(ReadSign, ReplyWithoutTOrOkIsRejectedWithoutAnotherAttempt) {
  const std::string notT = "X0123421ZZOK6B";
  const std::string notOk = Reply('1', "123421", "00", "NO");
  ScriptedSignPort port;
  port.respond = SignHolding({{"R0E", notT}, {"R1E", notOk}, {"R2E", Reply('2', "999951")}});
  ExchangeRecorder window;

  const auto readings = ReadSign(port, window.Context(), [](const PanelReading&) {});

  EXPECT_EQ(port.Count("R0E"), 1);
  EXPECT_EQ(port.Count("R1E"), 1);
  EXPECT_FALSE(readings[0].good);
  EXPECT_FALSE(readings[1].good);
  EXPECT_TRUE(readings[2].good);
  EXPECT_EQ(readings[2].priceText, "99.99");
  EXPECT_EQ(window.LinesEqualTo("Принятые данные ошибочные:" + notT), 1);
  EXPECT_EQ(window.LinesEqualTo("Принятые данные ошибочные:" + notOk), 1);
  // The seven silent panels each give one such line with the blanks.
  EXPECT_EQ(window.LinesEqualTo("Принятые данные ошибочные:" + kBlanks16), 7);
  EXPECT_EQ(port.sent.size(), 3u + 7u * 7u);
}

TEST(ReadSign, PortErrorMidwayStopsTheReadAfterShowingEarlierPanels) {
  ScriptedSignPort port;
  port.respond = [&](const std::string& sent) -> std::optional<Answer> {
    if (sent == "R2E") port.closed = true;  // unplugged while panel 2 is asked
    return Answer{Reply(sent[1], "123421"), 1};
  };
  ExchangeRecorder window;
  std::vector<uint8_t> shown;

  try {
    ReadSign(port, window.Context(),
             [&](const PanelReading& r) { shown.push_back(r.step.address); });
    FAIL() << "expected the port's error to end the read";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), kErrClearError);
  }
  EXPECT_EQ(shown, (std::vector<uint8_t>{0, 1}));
  EXPECT_EQ(window.progress, (std::vector<int>{1, 2, 3}));
}

TEST(ReadSign, ClosedPortFailsAtTheFirstPurgeBeforeAnyRequest) {
  ScriptedSignPort port;
  port.closed = true;
  ExchangeRecorder window;
  bool shown = false;

  try {
    ReadSign(port, window.Context(), [&](const PanelReading&) { shown = true; });
    FAIL() << "expected the purge error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), kErrPurge);
  }
  EXPECT_TRUE(port.sent.empty());
  EXPECT_FALSE(shown);
  EXPECT_TRUE(window.log.empty());
}

// ---- over a pseudo-terminal, against the sign simulator

// Long enough that a busy machine does not make a good reply late; the cases
// whose every attempt fails use a short one, as their count cannot change.
constexpr int kSimReadDelayMs = 50;
constexpr int kSimShortReadDelayMs = 5;

// The requests in order, a retry of the same panel counted once.
std::vector<std::string> WithoutRetries(const std::vector<std::string>& requests) {
  std::vector<std::string> out;
  for (const std::string& r : requests) {
    if (out.empty() || out.back() != r) out.push_back(r);
  }
  return out;
}

TEST(ReadSignOnTheLine, DecodesEveryPanelTheSignHolds) {
  SimulatedSign sim;
  for (const auto& step : sign_exchange::kReadSteps) {
    const char a = sign_link::AddressChar(step.address);
    sim.Sign().SetPanel(step.address, {std::string("4") + a + "99", '3', '1'});
  }
  sim.Sign().SetPanel(8, {"----", '0', '3'});
  ExchangeRecorder window;
  window.readDelayMs = kSimReadDelayMs;

  const auto readings = ReadSign(sim.Link(), window.Context(), [](const PanelReading&) {});

  ASSERT_EQ(readings.size(), 10u);
  for (const PanelReading& r : readings) {
    const char a = sign_link::AddressChar(r.step.address);
    EXPECT_TRUE(r.good) << "panel " << int(r.step.address) << " gave " << r.reply;
    if (r.step.address == 8) continue;
    EXPECT_EQ(r.priceText, std::string("4") + a + ".99");
    EXPECT_EQ(r.view.gradeIndex, 2);
    EXPECT_TRUE(r.view.inscription1);
    EXPECT_FALSE(r.view.inscription2);
  }
  EXPECT_EQ(readings[9].priceText, "--.--");
  EXPECT_EQ(readings[9].view.gradeIndex, -1);
  EXPECT_TRUE(readings[9].view.inscription1 && readings[9].view.inscription2);
  EXPECT_EQ(WithoutRetries(sim.Sign().Received()),
            (std::vector<std::string>{"R0E", "R1E", "R2E", "R3E", "R4E", "R<E", "R;E", "R:E", "R9E",
                                      "R8E"}));
}

TEST(ReadPanelOnTheLine, NulBytesAndExtraBytesDoNotSpoilAReply) {
  SimulatedSign sim;
  sim.Sign().SetPanel(2, {"1234", '2', '1'});
  sim.Sign().UpdateFaults([](sign_sim::SignFaults& f) {
    f.nulsBetweenBytes = 2;
    f.extraAfterAnswer = "ZZZZ";
  });
  ExchangeRecorder window;
  window.readDelayMs = kSimReadDelayMs;

  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(ReadPanel(sim.Link(), 2, window.Context())) << "read " << i + 1;
    EXPECT_EQ(window.replyBuffer.substr(0, 8), "T2123421") << "read " << i + 1;
  }
}

TEST(ReadPanelOnTheLine, BadRepliesGiveTheirOutcome) {
  struct Case {
    const char* name;
    sign_sim::SignFaults faults;
    bool good;
    size_t requests;
  };
  sign_sim::SignFaults wrongFirst;
  wrongFirst.wrongFirstCheckDigit = 2;
  sign_sim::SignFaults wrongSecond;
  wrongSecond.wrongSecondCheckDigit = 1;
  sign_sim::SignFaults lowercase;
  lowercase.lowercaseCheckCode = true;
  sign_sim::SignFaults short11;
  short11.replyLength = 11;
  sign_sim::SignFaults noT;
  noT.replyWithoutT = true;
  sign_sim::SignFaults noOk;
  noOk.replyWithoutOk = true;
  sign_sim::SignFaults silent;
  silent.silent = true;
  const Case cases[] = {
      {"wrong first digit in two replies", wrongFirst, true, 3},
      {"wrong second digit in one reply", wrongSecond, true, 2},
      {"lowercase check code", lowercase, false, 7},
      {"11-byte reply", short11, false, 7},
      {"no T", noT, true, 1},  // the check code matches: ReadPanel's part is done
      {"no OK", noOk, true, 1},
      {"silent", silent, false, 7},
  };
  for (const Case& c : cases) {
    SimulatedSign sim;
    // This record's check code has letter digits, so lowercase changes it.
    sim.Sign().SetPanel(0, {"1234", ':', '1'});
    sim.Sign().SetFaults(c.faults);
    ExchangeRecorder window;
    window.readDelayMs = c.good ? kSimReadDelayMs : kSimShortReadDelayMs;

    EXPECT_EQ(ReadPanel(sim.Link(), 0, window.Context()), c.good) << c.name;
    // The last request may still be on its way when the read gives up.
    EXPECT_TRUE(tarvo::test::WaitFor([&] { return sim.Sign().ReceivedCount() >= c.requests; }))
        << c.name;
    EXPECT_EQ(sim.Sign().ReceivedCount(), c.requests) << c.name;
    if (!c.good) {
      EXPECT_EQ(window.replyBuffer, kBlanks16) << c.name;
    }
    if (c.faults.lowercaseCheckCode) {
      EXPECT_NE(sim.Sign().Answered().at(0).find_first_of("abcdef", 12), std::string::npos)
          << "the reply's check code should have had a letter digit";
    }
  }
}

TEST(ReadPanelWaitingForBytes, EachAttemptAsksOnceAndTheRetriesAreTheWindows) {
  using sign_exchange::Heard;
  struct Case {
    const char* name;
    sign_sim::SignFaults faults;
    bool good;
    size_t requests;
    Heard heard;  // what came back to the attempts
  };
  sign_sim::SignFaults wrongTwice;
  wrongTwice.wrongFirstCheckDigit = 2;
  sign_sim::SignFaults short11;
  short11.replyLength = 11;
  sign_sim::SignFaults silent;
  silent.silent = true;
  sign_sim::SignFaults dribbled;  // fourteen bytes 8 ms apart never fit in 20 ms
  dribbled.dribbleGapMs = 8;
  const Case cases[] = {
      {"good reply", {}, true, 1, {true, false}},
      {"wrong check code in two replies", wrongTwice, true, 3, {true, false}},
      {"11-byte reply", short11, false, 7, {true, true}},
      {"silent", silent, false, 7, {false, false}},
      {"dribbled", dribbled, false, 7, {true, true}},
  };
  const sign_exchange::ReadStep step = sign_exchange::kReadSteps[3];  // panel 3
  for (const Case& c : cases) {
    SimulatedSign sim;
    sim.Sign().SetPanel(3, {"1234", '2', '1'});
    sim.Sign().SetFaults(c.faults);
    ExchangeRecorder window;

    const PanelReading reading =
        sign_exchange::ReadStepPanel(sim.Link(), step, window.WaitingForBytes(c.good ? 2000 : 20));

    EXPECT_EQ(reading.good, c.good) << c.name;
    EXPECT_EQ(reading.heard.anyByte, c.heard.anyByte) << c.name;
    EXPECT_EQ(reading.heard.cutShort, c.heard.cutShort) << c.name;
    EXPECT_TRUE(tarvo::test::WaitFor([&] { return sim.Sign().ReceivedCount() >= c.requests; }))
        << c.name;
    EXPECT_EQ(sim.Sign().ReceivedCount(), c.requests) << c.name;
    EXPECT_EQ(window.replyBuffer.substr(0, 8), c.good ? "T3123421" : kBlanks16.substr(0, 8))
        << c.name;
    EXPECT_EQ(window.delayAsks, 0) << c.name << ": no read delay is slept";
  }
}

TEST(ReadSignWaitingForBytes, BytesASignSendsAfterEachReplyDoNotShiftTheRepliesAfterIt) {
  SimulatedSign sim;
  sim.Sign().SetLineRate(19200);
  sim.Sign().UpdateFaults([](sign_sim::SignFaults& f) { f.extraAfterAnswer = "ZZ"; });
  sim.Sign().SetPanel(12, {"1234", '2', '1'});
  ExchangeRecorder window;

  const std::vector<PanelReading> readings =
      ReadSign(sim.Link(), window.WaitingForBytes(2000), [](const PanelReading&) {});

  for (const PanelReading& reading : readings)
    EXPECT_TRUE(reading.good) << "panel " << int(reading.step.address) << ": " << reading.reply;
  EXPECT_EQ(readings[5].priceText, "12.34");
}

// A sign slower than the answer time: each reply comes during the next
// request's wait. A reply is this panel's only when it carries its address.
TEST(ReadSignWaitingForBytes, ALateReplyIsNeverTakenForAnotherPanel) {
  SimulatedSign sim;
  sim.Sign().SetLineRate(19200);
  sim.Sign().UpdateFaults([](sign_sim::SignFaults& f) { f.answerDelayMs = 120; });
  for (const auto& step : sign_exchange::kReadSteps)
    sim.Sign().SetPanel(step.address, {"10" + std::to_string(10 + step.address), '1', '0'});
  ExchangeRecorder window;

  const std::vector<PanelReading> readings =
      ReadSign(sim.Link(), window.WaitingForBytes(100), [](const PanelReading&) {});

  int good = 0;
  for (const PanelReading& reading : readings) {
    if (!reading.good) continue;
    ++good;
    EXPECT_EQ(reading.priceText, "10." + std::to_string(10 + reading.step.address))
        << "panel " << int(reading.step.address);
  }
  EXPECT_GT(good, 0) << "a reply late by less than one answer time is still the panel's own";
}

}  // namespace

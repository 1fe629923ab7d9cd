// The sign search on pseudo-terminals the test plays itself: what it logs for
// each port, which answers it accepts, and how it leaves the port.
#include "app/sign_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>

#include "tests/support/hermetic_env.h"
#include "tests/support/pty_pair.h"
#include "tests/support/wait_for.h"

namespace {

using tarvo::test::HermeticEnv;
using tarvo::test::PtyPair;
using tarvo::test::WaitFor;
using Lines = std::vector<std::string>;

const std::string kSearchStart = "--- Поиск табло --- ";

// Devices published as COMn that answer when the search's log says so: the
// log line is written on the search's thread, so an answer put on the line
// there is waited for before the search goes on, and no test depends on time.
class SearchBench {
 public:
  using Script = std::function<void(const std::string& line, int queryNumber)>;

  PtyPair& Device(const std::string& name) {
    auto& device = devices_[name];
    if (!device) {
      device = std::make_unique<PtyPair>();
      env_.Publish(name, device->TerminalPath());
    }
    return *device;
  }

  // Puts bytes on the line of the port being probed and waits until the
  // port counts at least `queued` bytes.
  void Answer(const std::string& bytes, int32_t queued) {
    Device(port.Port()).Write(bytes);
    ASSERT_TRUE(WaitFor([&] { return port.InputQueueCount() >= queued; }))
        << "the answer did not reach the port's queue";
  }

  std::string Search(Script script = {}) {
    int queries = 0;
    const sign_exchange::ExchangeContext context{
        reply, [] { return 1; },
        [&](const std::string& line) {
          log.push_back(line);
          if (line.rfind("Принято символов:", 0) == 0) ++queries;
          if (line.rfind("Отправлено:", 0) == 0) queries = 0;
          if (script) script(line, queries);
        },
        {}};
    return SearchSign(port, context, 200);
  }

  HermeticEnv env_;
  std::map<std::string, std::unique_ptr<PtyPair>> devices_;
  TComPort port;
  std::string reply;
  Lines log;
};

Lines SilentPortLog(int count) {
  Lines lines{"Отправлено:R0E"};
  for (int i = 0; i < 4; ++i) lines.push_back("Принято символов:" + std::to_string(count));
  lines.insert(lines.end(), {"4 попыток чтения прошло. Задержка 200мс", "Ошибка чтения!!! ",
                             "Принял:==========="});
  return lines;
}

Lines Prefixed(Lines lines) {
  lines.insert(lines.begin(), kSearchStart);
  return lines;
}

TEST(SignSearch, SilentPortLogsFourWaitsAndTheFillerAndIsLeftClosed) {
  SearchBench bench;
  PtyPair& device = bench.Device("COM4");
  std::string probe;

  // The device reads the probe while the port is open: closing a port may
  // discard what the other end of a pseudo-terminal has not read yet.
  EXPECT_EQ(bench.Search([&](const std::string& line, int) {
    if (line == "Отправлено:R0E") probe = device.ReadAtLeast(3);
  }),
            "");
  EXPECT_EQ(bench.log, Prefixed(SilentPortLog(0)));
  EXPECT_EQ(probe, "R0E");
  EXPECT_EQ(bench.reply, "===========");
  EXPECT_EQ(bench.port.Port(), "COM255");
  EXPECT_FALSE(bench.port.Connected());
}

TEST(SignSearch, NoPortsGivesOnlyTheHeaderLine) {
  SearchBench bench;
  EXPECT_EQ(bench.Search(), "");
  EXPECT_EQ(bench.log, Lines{kSearchStart});
  EXPECT_FALSE(bench.port.Connected());
}

TEST(SignSearch, AcceptsTwelveOrMoreBytesBeginningT0AndNothingElse) {
  struct Case {
    std::string answer;
    bool accepted;
  };
  for (const Case& c : {Case{"T0abcdefghij", true}, Case{"T0abcdefghijklmnop", true},
                        Case{"T0abcdefghi", false}, Case{"T1abcdefghij", false},
                        Case{"X0abcdefghij", false}}) {
    SCOPED_TRACE("answer " + c.answer);
    SearchBench bench;
    bench.Device("COM2");
    const auto size = static_cast<int32_t>(c.answer.size());
    const std::string found = bench.Search([&](const std::string& line, int) {
      if (line == "Отправлено:R0E") bench.Answer(c.answer, size);
    });
    EXPECT_EQ(found, c.accepted ? "COM2" : "");
    if (size >= 12) {
      // Ten bytes are taken; the rest waits for the next purge.
      EXPECT_EQ(bench.reply, c.answer.substr(0, 10));
      EXPECT_EQ(bench.log[3], "1 попыток чтения прошло. Задержка 200мс");
    } else {
      EXPECT_EQ(bench.log, Prefixed(SilentPortLog(size)));
    }
  }
}

TEST(SignSearch, AnswerCompleteDuringTheThirdWaitIsTaken) {
  SearchBench bench;
  bench.Device("COM3");
  EXPECT_EQ(bench.Search([&](const std::string& line, int queries) {
    if (line == "Отправлено:R0E") bench.Answer("T0abc", 5);
    if (queries == 3 && line.rfind("Принято символов:", 0) == 0) bench.Answer("defghij", 12);
  }),
            "COM3");
  EXPECT_EQ(bench.log, Prefixed({"Отправлено:R0E", "Принято символов:5", "Принято символов:5",
                                 "Принято символов:5", "3 попыток чтения прошло. Задержка 200мс",
                                 "Принял:T0abcdefgh"}));
}

TEST(SignSearch, AnswerCompleteOnlyDuringTheFourthWaitCountsAsSilent) {
  SearchBench bench;
  bench.Device("COM3");
  EXPECT_EQ(bench.Search([&](const std::string& line, int queries) {
    if (line == "Отправлено:R0E") bench.Answer("T0abc", 5);
    if (queries == 4 && line.rfind("Принято символов:", 0) == 0) bench.Answer("defghij", 12);
  }),
            "");
  EXPECT_EQ(bench.log, Prefixed(SilentPortLog(5)));
}

TEST(SignSearch, LastOfSeveralAnsweringPortsIsKept) {
  SearchBench bench;
  bench.Device("COM2");
  bench.Device("COM5");
  bench.Device("COM9");  // exists but stays silent
  const std::string found = bench.Search([&](const std::string& line, int) {
    if (line == "Отправлено:R0E" && bench.port.Port() != "COM9") bench.Answer("T0 2345600OK", 12);
  });
  EXPECT_EQ(found, "COM5");
  EXPECT_EQ(std::count(bench.log.begin(), bench.log.end(), "Отправлено:R0E"), 3);
  // The search itself leaves the port where the walk ended; the window reopens the found one.
  EXPECT_FALSE(bench.port.Connected());
}

TEST(SignSearch, PortHeldByAnotherOpenerIsSkippedWithoutALogLine) {
  SearchBench bench;
  PtyPair& held = bench.Device("COM2");
  bench.Device("COM6");
  TComPort holder;
  holder.SetPort("COM2");
  holder.OpenPort();

  EXPECT_EQ(bench.Search(), "");
  EXPECT_EQ(bench.log, Prefixed(SilentPortLog(0)));  // COM6 only
  EXPECT_EQ(held.ReadAvailable(), "");
  EXPECT_TRUE(holder.Connected());
}

TEST(SignSearch, PortStaysOpenOnCom255WhenThatPortOpens) {
  SearchBench bench;
  bench.Device("COM255");
  EXPECT_EQ(bench.Search(), "");
  EXPECT_TRUE(bench.port.Connected());
  EXPECT_EQ(bench.port.Port(), "COM255");
}

}  // namespace

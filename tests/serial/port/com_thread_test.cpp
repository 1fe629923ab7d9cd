// The event thread: when it exists, what it leaves to the program's reads,
// and how its events reach the handlers in the window thread.
#include <dirent.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/serial/port/port_fixture.h"

namespace {

using tarvo::test::PortTest;
using tarvo::test::WaitFor;

// The window thread's event loop: one application for the whole program.
void ServeWindowThread() {
  static int argc = 1;
  static char name[] = "com_thread_test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  QCoreApplication::processEvents();
}

int ThreadCount() {
  int count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
    closedir(tasks);
  }
  return count;
}

class EventThreadTest : public PortTest {
 protected:
  EventThreadTest() { ServeWindowThread(); }
};

TEST_F(EventThreadTest, RunsExactlyWhileThePortIsOpenWithEvents) {
  port.OpenPort();
  const int withThread = ThreadCount();
  port.OpenPort();
  EXPECT_EQ(ThreadCount(), withThread) << "opening an open port starts no second thread";
  port.ClosePort();
  EXPECT_TRUE(WaitFor([&] { return ThreadCount() == withThread - 1; })) << ThreadCount();

  port.SetEvents({});
  port.OpenPort();
  EXPECT_EQ(ThreadCount(), withThread - 1) << "no events, no thread";
  port.ClosePort();
}

TEST_F(EventThreadTest, ReceivedBytesStayForTheProgramsRead) {
  int announced = 0;
  port.OnRxChar = [&](TCustomComPort&, int count) { announced = count; };
  port.OpenPort();
  pty.Write("T0123456789A");
  ASSERT_TRUE(WaitFor([&] {
    ServeWindowThread();
    return announced == 12;
  })) << "announced "
      << announced;
  EXPECT_EQ(port.InputQueueCount(), 12);
  std::string text;
  EXPECT_EQ(port.ReadBytes(text, 14), 12);
  EXPECT_EQ(text, "T0123456789A");
}

TEST_F(EventThreadTest, HandlesEventsInTheWindowThreadInTheirOrder) {
  std::vector<std::string> handled;
  const std::thread::id window = std::this_thread::get_id();
  bool elsewhere = false;
  const auto note = [&](const char* what) {
    elsewhere |= std::this_thread::get_id() != window;
    if (handled.empty() || handled.back() != what) handled.emplace_back(what);
  };
  port.OnRxChar = [&](TCustomComPort&, int) { note("RxChar"); };
  port.OnRxFlag = [&](TCustomComPort&) { note("RxFlag"); };
  port.OnRx80Full = [&](TCustomComPort&) { note("Rx80Full"); };
  port.SetEventChar('Z');
  port.Buffer().SetInputSize(10);
  port.OpenPort();
  pty.Write("abcdefghZ");
  ASSERT_TRUE(WaitFor([&] {
    ServeWindowThread();
    return handled.size() >= 3;
  }));
  EXPECT_EQ(handled, (std::vector<std::string>{"RxChar", "RxFlag", "Rx80Full"}));
  EXPECT_FALSE(elsewhere) << "a handler ran outside the window thread";
}

TEST_F(EventThreadTest, ADrainedWriteRaisesTransmitterEmpty) {
  bool empty = false;
  port.OnTxEmpty = [&](TCustomComPort&) { empty = true; };
  port.OpenPort();
  ASSERT_EQ(port.SendText("B1"), 2);
  EXPECT_TRUE(WaitFor([&] {
    ServeWindowThread();
    return empty;
  }));
}

TEST_F(EventThreadTest, ClosingWithAHandOverPendingEndsTheThreadWithoutDeadlock) {
  // Served while the port closes, the handler closes it too: that must
  // neither wait for the thread nor close twice.
  port.OnRxChar = [](TCustomComPort& sender, int) { sender.ClosePort(); };
  port.OpenPort();
  const int withThread = ThreadCount();
  pty.Write("waiting");
  // The window thread serves nothing meanwhile, so the reception event waits.
  ASSERT_TRUE(WaitForCount(7));
  port.ClosePort();
  EXPECT_FALSE(port.Connected());
  EXPECT_TRUE(WaitFor([&] { return ThreadCount() == withThread - 1; }));
  ServeWindowThread();  // a stale wake-up finds nothing to do
  port.OpenPort();
  EXPECT_EQ(port.InputQueueCount(), 0) << "the queues were discarded as the thread ended";
}

TEST_F(EventThreadTest, ClosingKeepsWhatASendReportedAsSent) {
  // The far end has not read the bytes yet when the thread ends: they have
  // left the port all the same and must not be discarded with its queues.
  const std::string frame(200, 'w');
  for (int cycle = 0; cycle < 200; ++cycle) {
    port.OpenPort();
    ASSERT_EQ(port.SendText(frame), 200);
    port.ClosePort();
    ASSERT_EQ(pty.ReadAtLeast(frame.size()), frame) << "cycle " << cycle;
  }
}

TEST_F(EventThreadTest, AFailingHandlerEndsTheThreadAndThePortStaysOpen) {
  int calls = 0;
  port.OnRxChar = [&](TCustomComPort&, int) {
    ++calls;
    throw EComPort(kErrClearError, 5);
  };
  port.OpenPort();
  const int withThread = ThreadCount();
  pty.Write("x");
  ASSERT_TRUE(WaitFor([&] {
    ServeWindowThread();
    return calls == 1;
  }));
  EXPECT_TRUE(WaitFor([&] { return ThreadCount() == withThread - 1; })) << "the thread goes on";
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(port.InputQueueCount(), 1) << "its byte stays for the program";
  EXPECT_EQ(port.SendText("ok"), 2);
  port.ClosePort();
}

TEST_F(EventThreadTest, WindowSyncHandsEachEventOverAlone) {
  std::vector<std::string> handled;
  const std::thread::id window = std::this_thread::get_id();
  bool elsewhere = false;
  port.SetSyncMethod(smWindowSync);
  port.SetEventChar('!');
  port.OnRxChar = [&](TCustomComPort&, int) {
    elsewhere |= std::this_thread::get_id() != window;
    handled.emplace_back("RxChar");
  };
  port.OnRxFlag = [&](TCustomComPort&) { handled.emplace_back("RxFlag"); };
  port.OpenPort();
  pty.Write("!");
  ASSERT_TRUE(WaitFor([&] {
    ServeWindowThread();
    return handled.size() == 2;
  }));
  EXPECT_EQ(handled, (std::vector<std::string>{"RxChar", "RxFlag"}));
  EXPECT_FALSE(elsewhere);
}

TEST_F(EventThreadTest, WithoutSynchronisationHandlersRunInTheEventThread) {
  std::atomic<bool> inEventThread{false};
  std::atomic<int> announced{0};
  const std::thread::id window = std::this_thread::get_id();
  port.SetSyncMethod(smNone);
  port.OnRxChar = [&](TCustomComPort&, int count) {
    inEventThread = std::this_thread::get_id() != window;
    announced = count;
  };
  port.OpenPort();
  pty.Write("abc");
  ASSERT_TRUE(WaitFor([&] { return announced == 3; }));  // nobody serves the window thread
  EXPECT_TRUE(inEventThread);
}

TEST_F(EventThreadTest, WithoutSynchronisationAHandlerMayCloseItsPort) {
  auto own = std::make_unique<TComPort>();
  own->SetPort("COM3");
  own->SetSyncMethod(smNone);
  // The window thread is done with the port when OpenPort returns; the flag
  // tells thread checkers so, which do not see the order the line makes.
  std::atomic<bool> opened{false};
  std::atomic<bool> closed{false};
  own->OnRxChar = [&](TCustomComPort& sender, int) {
    if (!opened) return;
    sender.ClosePort();
    closed = !sender.Connected();
  };
  own->OpenPort();
  opened = true;
  pty.Write("x");
  ASSERT_TRUE(WaitFor([&] { return closed.load(); })) << "the close in the handler hangs";
  port.OpenPort();
  EXPECT_TRUE(port.Connected()) << "the closed port still holds the device";
  own.reset();  // a closed port is destroyed at once
}

TEST_F(EventThreadTest, WithoutSynchronisationAThreadEndedByItsHandlerTouchesThePortNoMore) {
  // The handler closes and reopens the port: the rest of the old thread's
  // event word belongs to the closed port and is handled by nobody. After
  // the handler that thread reads nothing of the port, whose owner may
  // destroy it at any time.
  port.SetSyncMethod(smNone);
  port.SetEventChar('!');
  std::atomic<bool> opened{false};  // as above
  std::atomic<bool> reopened{false};
  std::atomic<int> flags{0};
  port.OnRxChar = [&](TCustomComPort& sender, int) {
    if (!opened || reopened) return;
    sender.ClosePort();
    sender.OpenPort();
    reopened = true;
  };
  port.OnRxFlag = [&](TCustomComPort&) { ++flags; };
  port.OpenPort();
  const int withOneThread = ThreadCount();
  opened = true;
  pty.Write("!");
  ASSERT_TRUE(WaitFor([&] { return reopened.load(); }));
  ASSERT_TRUE(WaitFor([&] { return ThreadCount() == withOneThread; }))
      << "the old thread does not end";
  EXPECT_EQ(flags, 0) << "the closed port's event reached a handler";
  port.ClosePort();
}

TEST_F(EventThreadTest, AHandlerMayDestroyItsOwnPort) {
  for (const TSyncMethod method : {smThreadSync, smWindowSync, smNone}) {
    SCOPED_TRACE(method);
    auto* doomed = new TComPort;
    doomed->SetPort("COM3");
    doomed->SetSyncMethod(method);
    std::atomic<bool> opened{false};  // as above
    std::atomic<bool> destroyed{false};
    // The handler's own captures go with the port: it keeps what it needs.
    doomed->OnRxChar = [&opened, &destroyed](TCustomComPort& sender, int) {
      if (!opened) return;
      std::atomic<bool>& done = destroyed;
      delete &sender;
      done = true;
    };
    doomed->OpenPort();
    opened = true;
    pty.Write("x");
    ASSERT_TRUE(WaitFor([&] {
      ServeWindowThread();
      return destroyed.load();
    }));
    port.OpenPort();
    EXPECT_TRUE(port.Connected()) << "the destroyed port still holds the device";
    port.ClosePort();
  }
}

}  // namespace

// Opening and closing a device and the synchronous transfers, on a
// pseudo-terminal played by the test.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "serial/port/terminal_node.h"
#include "tests/serial/port/port_fixture.h"

namespace {

using namespace std::string_literals;
using tarvo::test::PortTest;
using tarvo::test::RaisedBy;
using tarvo::test::WaitFor;

std::string Code(int code, int error) { return std::to_string(code) + "/" + std::to_string(error); }

std::chrono::nanoseconds ProcessCpuTime() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

TEST_F(PortTest, OpensTheNamedDeviceRawAndGivesItsSettingsBackOnClose) {
  termios cooked = Terminal();
  cooked.c_lflag |= ECHO | ICANON;
  ASSERT_EQ(tcsetattr(pty.TerminalFd(), TCSANOW, &cooked), 0);

  port.OpenPort();
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(Terminal().c_lflag & (ECHO | ICANON), 0u);
  port.OpenPort();  // already open: nothing happens
  EXPECT_TRUE(port.Connected());

  port.ClosePort();
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(Terminal().c_lflag & (ECHO | ICANON), static_cast<tcflag_t>(ECHO | ICANON));
  port.ClosePort();  // already closed: nothing happens
  port.OpenPort();
  EXPECT_TRUE(port.Connected()) << "a closed port opens again";
}

TEST_F(PortTest, AHandlerThatClosesThePortWhileItClosesFindsNothingToDo) {
  int beforeClose = 0;
  port.OnBeforeClose = [&](TCustomComPort& sender) {
    ++beforeClose;
    sender.ClosePort();
  };
  port.OpenPort();
  port.ClosePort();
  EXPECT_EQ(beforeClose, 1);
  EXPECT_FALSE(port.Connected());
}

// An open or close handler may close or destroy its own port: the open or
// close that called it then ends quietly and touches the port no more.
struct OwnPortHandlerCase {
  const char* name;
  void (*install)(TComPort& port, std::function<void(TCustomComPort&)> act);
  bool inClose;  // the handler acts while the port closes, else while it opens
  bool destroy;  // it destroys the port, else it closes it
};

void PrintTo(const OwnPortHandlerCase& c, std::ostream* out) { *out << c.name; }

void OnBeforeOpen(TComPort& port, std::function<void(TCustomComPort&)> act) {
  port.OnBeforeOpen = std::move(act);
}
void OnAfterOpen(TComPort& port, std::function<void(TCustomComPort&)> act) {
  port.OnAfterOpen = std::move(act);
}
void OnCTSChange(TComPort& port, std::function<void(TCustomComPort&)> act) {
  port.OnCTSChange = [act](TCustomComPort& sender, bool) { act(sender); };
}
void OnDSRChange(TComPort& port, std::function<void(TCustomComPort&)> act) {
  port.OnDSRChange = [act](TCustomComPort& sender, bool) { act(sender); };
}
void OnBeforeClose(TComPort& port, std::function<void(TCustomComPort&)> act) {
  port.OnBeforeClose = std::move(act);
}
void OnAfterClose(TComPort& port, std::function<void(TCustomComPort&)> act) {
  port.OnAfterClose = std::move(act);
}

class OwnPortHandlerTest : public PortTest,
                           public ::testing::WithParamInterface<OwnPortHandlerCase> {};

TEST_P(OwnPortHandlerTest, EndsTheOpenOrCloseQuietly) {
  auto* own = new TComPort;
  own->SetPort("COM3");
  bool acting = false;
  bool destroyed = false;
  GetParam().install(
      *own, [&acting, &destroyed, destroy = GetParam().destroy](TCustomComPort& sender) {
        if (!acting) return;
        acting = false;
        if (!destroy) {
          sender.ClosePort();
          return;
        }
        destroyed = true;  // the last touch of the handler's captures: they go with the port
        delete &sender;
      });
  if (GetParam().inClose) own->OpenPort();
  acting = true;
  EXPECT_EQ(RaisedBy([&] { GetParam().inClose ? own->ClosePort() : own->OpenPort(); }), "none");
  ASSERT_FALSE(acting) << "the handler was not called";
  EXPECT_EQ(destroyed, GetParam().destroy);
  if (!destroyed) {
    EXPECT_FALSE(own->Connected());
    delete own;
  }
  port.OpenPort();
  EXPECT_TRUE(port.Connected()) << "the device is still held";
}

INSTANTIATE_TEST_SUITE_P(
    Handlers, OwnPortHandlerTest,
    ::testing::Values(OwnPortHandlerCase{"AfterOpenCloses", OnAfterOpen, false, false},
                      OwnPortHandlerCase{"CTSChangeInOpenCloses", OnCTSChange, false, false},
                      OwnPortHandlerCase{"DSRChangeInOpenCloses", OnDSRChange, false, false},
                      OwnPortHandlerCase{"BeforeOpenDestroys", OnBeforeOpen, false, true},
                      OwnPortHandlerCase{"AfterOpenDestroys", OnAfterOpen, false, true},
                      OwnPortHandlerCase{"CTSChangeInOpenDestroys", OnCTSChange, false, true},
                      OwnPortHandlerCase{"DSRChangeInOpenDestroys", OnDSRChange, false, true},
                      OwnPortHandlerCase{"CTSChangeInCloseDestroys", OnCTSChange, true, true},
                      OwnPortHandlerCase{"BeforeCloseDestroys", OnBeforeClose, true, true},
                      OwnPortHandlerCase{"AfterCloseDestroys", OnAfterClose, true, true}),
    [](const ::testing::TestParamInfo<OwnPortHandlerCase>& c) { return c.param.name; });

TEST_F(PortTest, APortChangeWhileThePortClosesIsRefusedNotDropped) {
  std::string raised;
  port.OnBeforeClose = [&](TCustomComPort&) { raised = RaisedBy([&] { port.SetPort("COM4"); }); };
  port.OpenPort();
  port.ClosePort();
  EXPECT_EQ(raised, Code(14, -1));
  EXPECT_EQ(port.Port(), "COM3");
  EXPECT_FALSE(port.Connected());
}

TEST_F(PortTest, PortsThatCannotBeOpenedRaise1WithTheReasonAndStayClosed) {
  std::ofstream(env.ComDir() + "/COM4") << "not a terminal";
  const std::pair<const char*, std::string> cases[] = {
      {"COM9", Code(1, ENOENT)},  // no device published
      {"LPT1", Code(1, ENOENT)},  // not COM and a number
      {"COM4", Code(1, ENOTTY)},  // a file, not a terminal
  };
  for (const auto& [name, expected] : cases) {
    port.SetPort(name);
    EXPECT_EQ(RaisedBy([&] { port.OpenPort(); }), expected) << name;
    EXPECT_FALSE(port.Connected()) << name;
  }
  port.SetPort("COM3");
  port.OpenPort();
  EXPECT_TRUE(port.Connected()) << "a failed open leaves the port usable";
}

TEST_F(PortTest, ADeviceIsHeldExclusively) {
  port.OpenPort();
  TComPort second;
  second.SetPort("COM3");
  try {
    second.OpenPort();
    ADD_FAILURE() << "a second opener got the device";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), 1);
    EXPECT_TRUE(e.SystemError() == EWOULDBLOCK || e.SystemError() == EBUSY)
        << "errno " << e.SystemError();
  }
  EXPECT_FALSE(second.Connected());
  port.ClosePort();
  second.OpenPort();
  EXPECT_TRUE(second.Connected()) << "closing gives the device free";
}

TEST_F(PortTest, ALineAnotherOpenerHoldsExclusivelyIsRefusedAndKeepsItsHold) {
  // The other opener uses TIOCEXCL alone, no lock; root passes TIOCEXCL.
  const int holder = pty.TerminalFd();
  ASSERT_EQ(ioctl(holder, TIOCEXCL), 0);
  EXPECT_EQ(RaisedBy([&] { port.OpenPort(); }), Code(1, EBUSY));
  EXPECT_FALSE(port.Connected());
  port.ClosePort();
  int exclusive = 0;
  ASSERT_EQ(ioctl(holder, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1) << "the other opener lost its hold";

  ASSERT_EQ(ioctl(holder, TIOCNXCL), 0);
  port.OpenPort();
  port.ClosePort();
  ASSERT_EQ(ioctl(holder, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0) << "our own hold outlived the close";
}

TEST_F(PortTest, ANodeThatIsNotATerminalIsRefusedWithoutBeingOpened) {
  // The twin of /dev/null (made only as root) is a character device that is
  // no terminal; /dev/null itself is opened by other programs all the time.
  std::vector<std::string> nodes = {env.ComDir() + "/file", env.ComDir() + "/fifo"};
  std::ofstream(nodes[0]) << "not a terminal";
  ASSERT_EQ(mkfifo(nodes[1].c_str(), 0600), 0);
  const std::string nullTwin = env.ComDir() + "/null";
  if (mknod(nullTwin.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) nodes.push_back(nullTwin);
  for (const std::string& node : nodes) {
    SCOPED_TRACE(node);
    std::filesystem::remove(env.ComDir() + "/COM4");
    env.Publish("COM4", node);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, node.c_str(), IN_OPEN), 0);
    port.SetPort("COM4");
    EXPECT_EQ(RaisedBy([&] { port.OpenPort(); }), Code(1, ENOTTY));
    char events[256];
    EXPECT_LT(read(watch, events, sizeof events), 0) << "the node was opened";
    close(watch);
  }
}

TEST(TerminalNode, ADeviceOfTheSysfsTtyClassIsATerminal) {
  // Real serial ports are known this way; /dev/ptmx is one on every system.
  struct stat info {};
  EXPECT_EQ(CheckTerminalNode("/dev/ptmx", info), 0);
}

TEST_F(PortTest, OperationsOnAClosedPortRaiseTheirCodeWithEBADF) {
  std::string text = "old";
  for (int round = 0; round < 2; ++round) {  // before the first open, then after a close
    EXPECT_EQ(RaisedBy([&] { port.PurgeBuffers(true, true); }), Code(5, EBADF));
    EXPECT_EQ(RaisedBy([&] { port.SendText("R0E"); }), Code(2, EBADF));
    EXPECT_EQ(RaisedBy([&] { port.SendText(""); }), Code(2, EBADF));
    EXPECT_EQ(RaisedBy([&] { port.InputQueueCount(); }), Code(10, EBADF));
    EXPECT_EQ(RaisedBy([&] { port.WaitForInput(14, 10); }), Code(10, EBADF));
    EXPECT_EQ(RaisedBy([&] { port.ReadBytes(text, 14); }), Code(3, EBADF));
    EXPECT_EQ(port.ReadBytes(text, 0), 0) << "a read of nothing starts no transfer";
    EXPECT_EQ(text, "");
    port.OpenPort();
    port.ClosePort();
  }
  try {
    port.InputQueueCount();
    ADD_FAILURE() << "a closed port counted its queue";
  } catch (const EComPort& e) {
    EXPECT_STREQ(e.what(), "ClearCommError function failed (win error code: 9)");
  }
}

TEST_F(PortTest, NulBytesAreNeitherCountedNorReadWhenDiscarded) {
  for (const bool withThread : {true, false}) {
    SCOPED_TRACE(withThread ? "with event thread" : "without event thread");
    port.SetEvents(withThread ? kAllComEvents : TComEvents{});
    port.SetDiscardNull(true);
    port.OpenPort();
    pty.Write("A\0B\0\0C"s);
    ASSERT_TRUE(WaitForCount(3)) << "count " << port.InputQueueCount();
    std::string text;
    EXPECT_EQ(port.ReadBytes(text, 2), 2);
    EXPECT_EQ(text, "AB");
    EXPECT_EQ(port.InputQueueCount(), 1);
    EXPECT_EQ(port.ReadBytes(text, 14), 1) << "a shorter answer comes back short";
    EXPECT_EQ(text, "C");

    port.SetDiscardNull(false);
    pty.Write("\0D"s);
    ASSERT_TRUE(WaitForCount(2));
    EXPECT_EQ(port.ReadBytes(text, 14), 2);
    EXPECT_EQ(text, "\0D"s);
    port.ClosePort();
  }
}

TEST_F(PortTest, AReadOfAnEmptyQueueReturnsNothingAtOnce) {
  port.OpenPort();
  std::string text = "stale";
  EXPECT_EQ(port.ReadBytes(text, 14), 0);
  EXPECT_EQ(text, "");
  EXPECT_EQ(port.InputQueueCount(), 0);
}

TEST_F(PortTest, AReadWithATotalTimeOutReturnsWhatCameWhenTheTimeIsUp) {
  port.Timeouts().SetReadInterval(0);
  port.Timeouts().SetReadTotalConstant(20);
  port.OpenPort();
  pty.Write("ab");
  ASSERT_TRUE(WaitForCount(2));
  std::string text;
  EXPECT_EQ(port.ReadBytes(text, 5), 2);
  EXPECT_EQ(text, "ab");
}

TEST_F(PortTest, AReadLongerThanAFullQueueWaitsWithoutSpinningAndTakesWhatCame) {
  port.Buffer().SetInputSize(16);
  port.FlowControl().SetXonXoffIn(true);
  port.Timeouts().SetReadInterval(0);
  port.Timeouts().SetReadTotalConstant(1000);
  port.OpenPort();
  const std::string sent(40, 'q');
  pty.Write(sent);
  ASSERT_TRUE(WaitForCount(16)) << "the full queue leaves the rest in the terminal";

  const std::chrono::nanoseconds cpuBefore = ProcessCpuTime();
  const auto wallBefore = std::chrono::steady_clock::now();
  std::string text;
  EXPECT_EQ(port.ReadBytes(text, 100), 40);
  const std::chrono::nanoseconds cpu = ProcessCpuTime() - cpuBefore;
  const auto wall = std::chrono::steady_clock::now() - wallBefore;
  EXPECT_EQ(text, sent);
  EXPECT_LT(cpu * 10, wall * 3) << "cpu " << cpu.count() << " ns in " << wall.count() << " ns";
}

TEST_F(PortTest, WaitForInputEndsWhenTheCountArrivesOrWithWhatCameAtTheTimeLimit) {
  for (const bool withThread : {true, false}) {
    SCOPED_TRACE(withThread ? "with event thread" : "without event thread");
    port.SetEvents(withThread ? kAllComEvents : TComEvents{});
    port.OpenPort();
    pty.Write("T0");
    ASSERT_TRUE(WaitForCount(2));
    EXPECT_EQ(port.WaitForInput(14, 20), 2) << "the time limit returns what came";

    const auto start = std::chrono::steady_clock::now();
    std::thread device([&] { pty.Write("0000000000OK"); });
    EXPECT_EQ(port.WaitForInput(14, 10000), 14);
    device.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5))
        << "the wait ended with the bytes, not at its limit";
    port.ClosePort();
  }
}

TEST_F(PortTest, PurgeDiscardsWhatWaitsButNotWhatComesLater) {
  port.OpenPort();
  pty.Write("stale answer");
  ASSERT_TRUE(WaitForCount(12));
  port.PurgeBuffers(true, true);
  EXPECT_EQ(port.InputQueueCount(), 0);
  port.PurgeBuffers(false, false);  // no action, no error
  pty.Write("T");
  ASSERT_TRUE(WaitForCount(1));
  std::string text;
  port.ReadBytes(text, 1);
  EXPECT_EQ(text, "T");
}

TEST_F(PortTest, SendTextWritesEveryByteOrNothingForAnEmptyText) {
  port.OpenPort();
  EXPECT_EQ(port.SendText("W0"s + "\0"s + "1234E"), 8);
  EXPECT_EQ(pty.ReadAtLeast(8),
            "W0\0"s
            "1234E");
  EXPECT_EQ(port.SendText(""), 0);
  EXPECT_EQ(pty.ReadAvailable(), "");
}

TEST_F(PortTest, AWriteThatCannotDrainReturnsTheSmallerCountAtItsDeadline) {
  port.Timeouts().SetWriteTotalMultiplier(0);
  port.Timeouts().SetWriteTotalConstant(50);
  port.OpenPort();
  ASSERT_EQ(tcflow(pty.TerminalFd(), TCOOFF), 0);  // the line stops sending
  const std::string frame(64, 'x');
  EXPECT_LT(port.SendText(frame), 64);
  ASSERT_EQ(tcflow(pty.TerminalFd(), TCOON), 0);
  pty.ReadAvailable();
  EXPECT_EQ(port.SendText("R0E"), 3) << "the port stays usable";
  EXPECT_EQ(pty.ReadAtLeast(3), "R0E");
}

TEST_F(PortTest, AFarEndThatGoesAwayMakesEveryOperationRaiseEIO) {
  for (const bool withThread : {true, false}) {
    SCOPED_TRACE(withThread ? "with event thread" : "without event thread");
    tarvo::test::PtyPair device;
    TComPort unplugged;
    env.Publish(withThread ? "COM5" : "COM6", device.TerminalPath());
    unplugged.SetPort(withThread ? "COM5" : "COM6");
    if (!withThread) unplugged.SetEvents({});
    unplugged.OpenPort();
    device.CloseMaster();
    std::string text;
    EXPECT_EQ(RaisedBy([&] { unplugged.InputQueueCount(); }), Code(10, EIO));
    EXPECT_EQ(RaisedBy([&] { unplugged.WaitForInput(14, 5000); }), Code(10, EIO));
    EXPECT_EQ(RaisedBy([&] { unplugged.ReadBytes(text, 14); }), Code(3, EIO));
    EXPECT_EQ(RaisedBy([&] { unplugged.SendText("R0E"); }), Code(2, EIO));
    EXPECT_EQ(RaisedBy([&] { unplugged.PurgeBuffers(true, true); }), Code(5, EIO));
    unplugged.ClosePort();
    EXPECT_FALSE(unplugged.Connected());
  }
}

TEST_F(PortTest, SettingPortReopensOnlyForADifferentName) {
  int opens = 0;
  port.OnAfterOpen = [&](TCustomComPort&) { ++opens; };
  port.OpenPort();
  port.SetPort("COM3");
  EXPECT_EQ(opens, 1) << "the same name changes nothing";
  port.SetPort("com3");
  EXPECT_EQ(opens, 2) << "a name in other letter case is another name: it reopens";
  EXPECT_TRUE(port.Connected());

  EXPECT_EQ(RaisedBy([&] { port.SetPort("COM8"); }), Code(1, ENOENT));
  EXPECT_EQ(port.Port(), "COM8");
  EXPECT_FALSE(port.Connected());
  port.SetPort("COM3");
  EXPECT_FALSE(port.Connected()) << "on a closed port the name is only stored";
}

TEST_F(PortTest, DestroyingAPortClosesItBeforeTellingItsListeners) {
  auto doomed = std::make_unique<TComPort>();
  doomed->SetPort("COM3");
  doomed->OpenPort();
  bool deviceFree = false;
  int removedCalls = 0;
  doomed->AddFreeNotification([&] {
    port.OpenPort();
    deviceFree = port.Connected();
  });
  const int removed = doomed->AddFreeNotification([&] { ++removedCalls; });
  doomed->RemoveFreeNotification(removed);
  doomed.reset();
  EXPECT_TRUE(deviceFree) << "the device was still held when listeners were told";
  EXPECT_EQ(removedCalls, 0);
}

}  // namespace

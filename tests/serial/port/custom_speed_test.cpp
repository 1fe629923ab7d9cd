// Rates without a termios constant reach the terminal through termios2.
// <asm/termbits.h> clashes with <termios.h>, so this test reads the line
// alone in its own file.
#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include "serial/CPort.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/pty_pair.h"

namespace {

speed_t OutputSpeed(int fd) {
  termios2 t{};
  EXPECT_EQ(ioctl(fd, TCGETS2, &t), 0);
  EXPECT_EQ(t.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER)) << "the rate is not a constant";
  return t.c_ospeed;
}

TEST(CustomSpeed, NonStandardAndCustomRatesReachTheTerminal) {
  tarvo::test::HermeticEnv env;
  tarvo::test::PtyPair pty;
  env.Publish("COM1", pty.TerminalPath());
  TComPort port;
  port.SetBaudRate(br56000);
  port.OpenPort();
  EXPECT_EQ(OutputSpeed(pty.TerminalFd()), 56000u);
  port.SetBaudRate(br256000);
  EXPECT_EQ(OutputSpeed(pty.TerminalFd()), 256000u);
  port.SetCustomBaudRate(31250);
  port.SetBaudRate(brCustom);
  EXPECT_EQ(OutputSpeed(pty.TerminalFd()), 31250u);
}

TEST(CustomSpeed, ClosingGivesBackARateAnotherProgramSetThroughTermios2) {
  tarvo::test::HermeticEnv env;
  tarvo::test::PtyPair pty;
  env.Publish("COM1", pty.TerminalPath());
  termios2 found{};
  ASSERT_EQ(ioctl(pty.TerminalFd(), TCGETS2, &found), 0);
  found.c_cflag = (found.c_cflag & ~(CBAUD | (CBAUD << IBSHIFT))) | BOTHER | (BOTHER << IBSHIFT);
  found.c_ispeed = found.c_ospeed = 250000;
  ASSERT_EQ(ioctl(pty.TerminalFd(), TCSETS2, &found), 0);
  TComPort port;
  port.OpenPort();
  port.SetBaudRate(br56000);
  ASSERT_EQ(OutputSpeed(pty.TerminalFd()), 56000u);
  port.ClosePort();
  termios2 after{};
  ASSERT_EQ(ioctl(pty.TerminalFd(), TCGETS2, &after), 0);
  EXPECT_EQ(after.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
  EXPECT_EQ(after.c_ospeed, 250000u);
  EXPECT_EQ(after.c_ispeed, 250000u);
}

TEST(CustomSpeed, AStandardRateAfterAnotherSetsBothDirections) {
  struct Change {
    TBaudRate from;
    TBaudRate to;
    speed_t bitsPerSecond;
  };
  for (const Change& change : {Change{br14400, br19200, 19200}, Change{br256000, br115200, 115200},
                               Change{br19200, br56000, 56000}}) {
    SCOPED_TRACE(testing::Message() << "to " << change.bitsPerSecond << " bit/s");
    tarvo::test::HermeticEnv env;
    tarvo::test::PtyPair pty;
    env.Publish("COM1", pty.TerminalPath());
    TComPort port;
    port.SetBaudRate(change.from);
    port.OpenPort();
    port.SetBaudRate(change.to);
    termios2 t{};
    ASSERT_EQ(ioctl(pty.TerminalFd(), TCGETS2, &t), 0);
    EXPECT_EQ(t.c_ospeed, change.bitsPerSecond);
    EXPECT_EQ(t.c_ispeed, change.bitsPerSecond) << "the input kept the earlier rate";
  }
}

}  // namespace

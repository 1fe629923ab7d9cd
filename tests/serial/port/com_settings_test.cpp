// The port's settings: defaults, the setter rules, and when they reach the
// terminal.
#include <gtest/gtest.h>

#include <cerrno>

#include "tests/serial/port/port_fixture.h"

namespace {

using tarvo::test::PortTest;
using tarvo::test::RaisedBy;

TEST(PortSettings, FlowControlSummaryReadsAndWritesItsFields) {
  TComFlowControl flow;
  flow.SetFlowControl(fcHardware);
  EXPECT_EQ(flow.FlowControl(), fcHardware);
  EXPECT_EQ(flow.ControlRTS(), rtsHandshake);
  EXPECT_TRUE(flow.OutCTSFlow());
  flow.SetFlowControl(fcSoftware);
  EXPECT_EQ(flow.FlowControl(), fcSoftware);
  EXPECT_EQ(flow.ControlRTS(), rtsDisable);
  EXPECT_FALSE(flow.OutCTSFlow());
  flow.SetXonXoffIn(false);
  EXPECT_EQ(flow.FlowControl(), fcCustom);
  flow.SetFlowControl(fcCustom);
  EXPECT_EQ(flow.FlowControl(), fcCustom) << "custom changes no field";
  EXPECT_TRUE(flow.XonXoffOut());
  flow.SetFlowControl(fcNone);
  flow.SetOutDSRFlow(true);
  flow.SetControlDTR(dtrHandshake);
  EXPECT_EQ(flow.FlowControl(), fcNone) << "DTR and DSR play no part in the summary";
  flow.SetControlRTS(rtsEnable);
  EXPECT_EQ(flow.FlowControl(), fcCustom);
}

TEST(PortSettings, BufferSizesAreStoredEven) {
  TComBuffer buffer;
  buffer.SetInputSize(4097);
  EXPECT_EQ(buffer.InputSize(), 4096);
  buffer.SetOutputSize(1025);
  EXPECT_EQ(buffer.OutputSize(), 1024);
  buffer.SetInputSize(2048);
  EXPECT_EQ(buffer.InputSize(), 2048);
}

TEST(PortSettings, SettingsObjectsCopyEveryField) {
  TComParity parity;
  parity.SetBits(prMark);
  parity.SetCheck(true);
  parity.SetReplace(true);
  parity.SetReplaceChar('?');
  TComPort port;
  port.SetParity(parity);
  EXPECT_EQ(port.Parity().Bits(), prMark);
  EXPECT_TRUE(port.Parity().Check());
  EXPECT_TRUE(port.Parity().Replace());
  EXPECT_EQ(port.Parity().ReplaceChar(), '?');
  EXPECT_EQ(port.Parity().ComPort(), &port) << "the copy stays bound to its own port";

  TComTimeouts timeouts;
  timeouts.SetReadInterval(5);
  timeouts.SetReadTotalMultiplier(6);
  timeouts.SetReadTotalConstant(7);
  timeouts.SetWriteTotalMultiplier(8);
  timeouts.SetWriteTotalConstant(9);
  port.SetTimeouts(timeouts);
  EXPECT_EQ(port.Timeouts().ReadInterval(), 5);
  EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 6);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 7);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 8);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 9);

  TComFlowControl flow;
  flow.SetFlowControl(fcHardware);
  flow.SetXonChar(0x21);
  flow.SetTxContinueOnXoff(true);
  port.SetFlowControl(flow);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);
  EXPECT_EQ(port.FlowControl().XonChar(), 0x21);
  EXPECT_TRUE(port.FlowControl().TxContinueOnXoff());

  TComBuffer buffer;
  buffer.SetInputSize(4096);
  buffer.SetOutputSize(512);
  port.SetBuffer(buffer);
  EXPECT_EQ(port.Buffer().InputSize(), 4096);
  EXPECT_EQ(port.Buffer().OutputSize(), 512);
}

TEST_F(PortTest, SettingsReachTheTerminalOnlyWhileOpenAndOutsideAnUpdate) {
  port.SetBaudRate(br19200);
  termios t = Terminal();
  EXPECT_NE(cfgetospeed(&t), B19200) << "a closed port hands nothing to the driver";
  port.OpenPort();
  t = Terminal();
  EXPECT_EQ(cfgetospeed(&t), B19200);

  port.SetBaudRate(br38400);
  t = Terminal();
  EXPECT_EQ(cfgetospeed(&t), B38400);

  port.BeginSettingsUpdate();
  port.BeginSettingsUpdate();
  port.SetStopBits(sbTwoStopBits);
  port.FlowControl().SetXonChar(0x01);
  port.EndSettingsUpdate();
  t = Terminal();
  EXPECT_EQ(t.c_cflag & CSTOPB, 0u) << "still inside the outer update";
  EXPECT_EQ(t.c_cc[VSTART], 0x11);
  port.EndSettingsUpdate();
  t = Terminal();
  EXPECT_EQ(t.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
  EXPECT_EQ(t.c_cc[VSTART], 0x01);
  port.EndSettingsUpdate();  // at zero: nothing happens

  port.FlowControl().SetFlowControl(fcSoftware);
  t = Terminal();
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  // A pseudo-terminal keeps eight bits without parity; the port takes the
  // setting all the same, as a line without a wire has no framing.
  port.SetDataBits(dbSeven);
  port.Parity().SetBits(prMark);
  EXPECT_EQ(port.DataBits(), dbSeven);
}

TEST_F(PortTest, OpeningInsideAnUpdateSetsTheWholeLineAndHoldsOnlyLaterChanges) {
  termios cooked = Terminal();
  cooked.c_lflag |= ECHO | ICANON;
  cooked.c_iflag |= ICRNL;
  termios rawReturningNothing = Terminal();
  rawReturningNothing.c_cc[VMIN] = 0;  // an empty line would read as a hang-up
  for (const termios& found : {cooked, rawReturningNothing}) {
    SCOPED_TRACE(&found == &cooked ? "cooked line" : "raw line with VMIN 0");
    ASSERT_EQ(tcsetattr(pty.TerminalFd(), TCSANOW, &found), 0);
    port.SetBaudRate(br19200);
    port.BeginSettingsUpdate();
    port.OpenPort();
    pty.Write("R0E\r");
    ASSERT_TRUE(WaitForCount(4));
    std::string text;
    EXPECT_EQ(port.ReadBytes(text, 14), 4);
    EXPECT_EQ(text, "R0E\r") << "translated or held back as a line";
    ASSERT_EQ(port.SendText("T"), 1);
    EXPECT_EQ(pty.ReadAtLeast(1), "T") << "the line echoed what it received";
    termios t = Terminal();
    EXPECT_EQ(cfgetospeed(&t), B19200);

    port.SetBaudRate(br9600);
    t = Terminal();
    EXPECT_EQ(cfgetospeed(&t), B19200) << "a change inside the update waits for its end";
    port.EndSettingsUpdate();
    t = Terminal();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    port.ClosePort();
  }
}

TEST_F(PortTest, ABadLineStateFailsTheOpenWith7AndClosesTheDeviceAgain) {
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(0);
  EXPECT_EQ(RaisedBy([&] { port.OpenPort(); }), "7/" + std::to_string(EINVAL));
  EXPECT_FALSE(port.Connected());
  TComPort other;
  other.SetPort("COM3");
  other.OpenPort();
  EXPECT_TRUE(other.Connected()) << "the failed open left the device held";
  other.ClosePort();

  port.SetCustomBaudRate(9600);
  port.OpenPort();
  EXPECT_EQ(RaisedBy([&] { port.SetCustomBaudRate(-5); }), "7/" + std::to_string(EINVAL));
  EXPECT_EQ(RaisedBy([&] { port.Buffer().SetInputSize(0); }), "9/" + std::to_string(EINVAL));
  EXPECT_TRUE(port.Connected()) << "a rejected setting on an open port leaves it open";
}

TEST_F(PortTest, SyncMethodChangesOnlyWhileClosed) {
  port.SetSyncMethod(smNone);
  port.OpenPort();
  EXPECT_EQ(RaisedBy([&] { port.SetSyncMethod(smWindowSync); }), "14/-1");
  EXPECT_EQ(port.SyncMethod(), smNone);
  port.ClosePort();
  port.SetSyncMethod(smWindowSync);
  EXPECT_EQ(port.SyncMethod(), smWindowSync);
}

}  // namespace

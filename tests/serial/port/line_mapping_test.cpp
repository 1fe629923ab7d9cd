// The line's pure mappings: settings onto termios, event words, time-out
// plans and port names, all on plain values without a device.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cstdlib>

#include "serial/port/event_word.h"
#include "serial/port/port_names.h"
#include "serial/port/termios_mapping.h"
#include "serial/port/transfer_timeouts.h"
#include "tests/support/hermetic_env.h"

namespace {

using namespace std::chrono_literals;

TEST(TermiosMapping, EveryRateHasItsNumberAndTermiosKnowsOnlyTheStandardOnes) {
  struct Row {
    TBaudRate rate;
    int32_t bps;
    bool standard;
  };
  const Row rows[] = {
      {br110, 110, true},       {br300, 300, true},        {br600, 600, true},
      {br1200, 1200, true},     {br2400, 2400, true},      {br4800, 4800, true},
      {br9600, 9600, true},     {br14400, 14400, false},   {br19200, 19200, true},
      {br38400, 38400, true},   {br56000, 56000, false},   {br57600, 57600, true},
      {br115200, 115200, true}, {br128000, 128000, false}, {br256000, 256000, false}};
  for (const Row& row : rows) {
    EXPECT_EQ(BitsPerSecond(row.rate, 777), row.bps) << "rate " << row.rate;
    EXPECT_EQ(StandardSpeed(row.bps).has_value(), row.standard) << row.bps << " bit/s";
  }
  EXPECT_EQ(BitsPerSecond(brCustom, 31250), 31250);
  EXPECT_EQ(StandardSpeed(19200), B19200);
}

TEST(TermiosMapping, FramingOfDataParityAndStopBits) {
  termios t{};
  const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  for (int bits = dbFive; bits <= dbEight; ++bits) {
    SetDataBits(t, static_cast<TDataBits>(bits));
    EXPECT_EQ(t.c_cflag & CSIZE, sizes[bits]) << "data bits " << bits;
  }
  const tcflag_t parityBits = PARENB | PARODD | CMSPAR;
  const std::pair<TParityBits, tcflag_t> parities[] = {{prNone, 0},
                                                       {prOdd, PARENB | PARODD},
                                                       {prEven, PARENB},
                                                       {prMark, PARENB | PARODD | CMSPAR},
                                                       {prSpace, PARENB | CMSPAR}};
  for (const auto& [parity, expected] : parities) {
    t.c_cflag |= parityBits;  // leftovers of an earlier setting must go
    SetParityBits(t, parity);
    EXPECT_EQ(t.c_cflag & parityBits, expected) << "parity " << parity;
  }
  SetStopBits(t, sbTwoStopBits);
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  SetStopBits(t, sbOneStopBit);
  EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
  SetStopBits(t, sbOne5StopBits);
  EXPECT_NE(t.c_cflag & CSTOPB, 0u) << "one and a half stop bits become two";
}

TEST(TermiosMapping, RawLineKeepsNothingOfACookedTerminal) {
  termios t{};
  t.c_iflag = ICRNL | IXON | ISTRIP | BRKINT | IGNCR;
  t.c_oflag = OPOST | ONLCR;
  t.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
  MakeRawLine(t);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON | ISTRIP | BRKINT | IGNCR), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
  // One byte at least per read: an empty line then reads as "would block".
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST(TermiosMapping, FlowControlAndParityCheck) {
  termios t{};
  SetSoftwareFlow(t, true, false, 0x21, 0x23);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON));
  EXPECT_EQ(t.c_cc[VSTART], 0x21);
  EXPECT_EQ(t.c_cc[VSTOP], 0x23);
  SetSoftwareFlow(t, false, true, 0x11, 0x13);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXOFF));

  SetHardwareFlow(t, false, rtsHandshake);
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  SetHardwareFlow(t, true, rtsDisable);
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  SetHardwareFlow(t, false, rtsEnable);
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);

  SetParityCheck(t, true);
  EXPECT_EQ(t.c_iflag & (INPCK | PARMRK | IGNPAR), INPCK | PARMRK);
  SetParityCheck(t, false);
  EXPECT_EQ(t.c_iflag & (INPCK | PARMRK | IGNPAR), 0u);
}

TEST(TermiosMapping, ModemLinesHeldOffOnOrLeftToTheHandshake) {
  const ModemLineChange off = ModemLinesFor(dtrDisable, rtsDisable);
  EXPECT_EQ(off.raise, 0);
  EXPECT_EQ(off.lower, TIOCM_DTR | TIOCM_RTS);
  const ModemLineChange on = ModemLinesFor(dtrEnable, rtsEnable);
  EXPECT_EQ(on.raise, TIOCM_DTR | TIOCM_RTS);
  EXPECT_EQ(on.lower, 0);
  const ModemLineChange handshake = ModemLinesFor(dtrHandshake, rtsHandshake);
  EXPECT_EQ(handshake.raise, TIOCM_DTR) << "DTR is held on without a DTR handshake";
  EXPECT_EQ((handshake.raise | handshake.lower) & TIOCM_RTS, 0) << "the kernel drives RTS";
  EXPECT_EQ(ModemLinesFor(dtrDisable, rtsToggle).raise, TIOCM_RTS);
}

TEST(TermiosMapping, TheProgramsLineIs19200EightNoneOneWithoutFlowControl) {
  LineState state;
  state.baudRate = br19200;
  state.discardNull = true;
  termios cooked{};
  cooked.c_iflag = IXON | IXOFF;
  cooked.c_cflag = CRTSCTS | PARENB | CSTOPB | CS7;
  const termios t = TermiosFor(cooked, state);
  EXPECT_EQ(cfgetospeed(&t), B19200);
  EXPECT_EQ(cfgetispeed(&t), B19200);
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK), 0u);

  state.baudRate = br14400;
  const termios other = TermiosFor(t, state);
  EXPECT_EQ(cfgetospeed(&other), B19200)
      << "a rate without a termios constant leaves the speed to termios2";
}

TEST(EventWord, MaskFlagsAndBackAgain) {
  EXPECT_EQ(EventFlags(kAllComEvents), 0x05FFu);
  EXPECT_EQ(EventsFromFlags(0x05FF), kAllComEvents);
  EXPECT_EQ(EventFlags({evRxChar}), 0x0001u);
  EXPECT_EQ(EventFlags({evRxFlag, evRx80Full}), 0x0402u);
  EXPECT_EQ(EventsFromFlags(0x0200 | 0x0800 | kFlagRing), (TComEvents{evRing}))
      << "flags without an event are ignored";
  EXPECT_TRUE(EventsFromFlags(0).Empty());
}

TEST(EventWord, ModemLinesAndCounterChanges) {
  EXPECT_EQ(ModemStatusFromLines(TIOCM_CTS | TIOCM_DSR | TIOCM_RI | TIOCM_CD | TIOCM_DTR), 0xF0u);
  EXPECT_EQ(ModemStatusFromLines(TIOCM_DTR | TIOCM_RTS), 0u);

  EXPECT_EQ(ModemChangeFlags(0, kModemCTSOn | kModemRingOn), kFlagCTS | kFlagRing);
  EXPECT_EQ(ModemChangeFlags(kModemRingOn | kModemRLSDOn, 0), kFlagRLSD)
      << "a ring is the indicator coming on, not going off";

  LineCounters before;
  LineCounters after = before;
  EXPECT_EQ(CompareCounters(before, after).flags, 0u);
  after.dsr = 1;
  after.brk = 2;
  after.bufferOverrun = 1;
  LineChange change = CompareCounters(before, after);
  EXPECT_EQ(change.flags, kFlagDSR | kFlagBreak) << "a break and a full queue raise no error event";
  EXPECT_EQ(change.errors, (TComErrors{ceBreak, ceRxOver}));
  after = before;
  after.frame = 1;
  after.parity = 1;
  after.overrun = 3;
  change = CompareCounters(before, after);
  EXPECT_EQ(change.flags, kFlagError);
  EXPECT_EQ(change.errors, (TComErrors{ceFrame, ceRxParity, ceOverrun}));
}

TEST(TransferTimeouts, WriteLimitIsMultiplierTimesBytesPlusConstant) {
  const LineTimeouts program;  // 100 ms a byte + 1000 ms
  EXPECT_EQ(WriteTimeLimit(program, 3), 1300ms);
  EXPECT_EQ(WriteTimeLimit(program, 11), 2100ms);
  LineTimeouts none = program;
  none.writeTotalMultiplier = 0;
  none.writeTotalConstant = 0;
  EXPECT_EQ(WriteTimeLimit(none, 5), kLongestWait) << "no limit still ends";
  LineTimeouts allBits = program;
  allBits.writeTotalMultiplier = -1;
  EXPECT_EQ(WriteTimeLimit(allBits, 1000000), kLongestWait) << "-1 is the largest value";
}

TEST(TransferTimeouts, ReadPlans) {
  const ReadPlan immediate = ReadPlanFor(LineTimeouts{}, 14);
  EXPECT_TRUE(immediate.returnOnFirstBytes);
  EXPECT_EQ(immediate.total, 0ms);
  EXPECT_FALSE(immediate.interval);

  LineTimeouts firstByte;
  firstByte.readTotalMultiplier = -1;
  firstByte.readTotalConstant = 250;
  const ReadPlan waitForAny = ReadPlanFor(firstByte, 14);
  EXPECT_TRUE(waitForAny.returnOnFirstBytes);
  EXPECT_EQ(waitForAny.total, 250ms);

  LineTimeouts total;
  total.readInterval = 20;
  total.readTotalMultiplier = 10;
  total.readTotalConstant = 100;
  const ReadPlan counted = ReadPlanFor(total, 14);
  EXPECT_FALSE(counted.returnOnFirstBytes);
  EXPECT_EQ(counted.total, 240ms);
  EXPECT_EQ(counted.interval, 20ms);
}

TEST(PortNames, ComNumbersAreCOMAndAPlainDecimalNumber) {
  EXPECT_EQ(ComNumber("COM1"), 1);
  EXPECT_EQ(ComNumber("COM255"), 255);
  EXPECT_EQ(ComNumber("com7"), 7) << "the prefix ignores letter case";
  for (const char* bad : {"", "COM", "COM0", "COM03", "COM-1", "COM1 ", "LPT1", "COMX", "COM1a",
                          "COM12345678901", "CON1"}) {
    EXPECT_FALSE(ComNumber(bad).has_value()) << '"' << bad << '"';
  }
}

TEST(PortNames, FixedTableCoversSerialUsbAndAcmDevices) {
  EXPECT_EQ(TableDevice(1), "/dev/ttyS0");
  EXPECT_EQ(TableDevice(32), "/dev/ttyS31");
  EXPECT_EQ(TableDevice(33), "/dev/ttyUSB0");
  EXPECT_EQ(TableDevice(65), "/dev/ttyACM0");
  EXPECT_EQ(TableDevice(96), "/dev/ttyACM31");
  EXPECT_FALSE(TableDevice(0));
  EXPECT_FALSE(TableDevice(97));
}

TEST(PortNames, PortFolderReplacesTheTableAndDevicePathsNameThemselves) {
  {
    tarvo::test::HermeticEnv env;
    EXPECT_EQ(PortFolder(), env.ComDir());
    EXPECT_EQ(DeviceForPort("COM3"), env.ComDir() + "/COM3");
    EXPECT_EQ(DeviceForPort("com3"), env.ComDir() + "/COM3");
    EXPECT_EQ(DeviceForPort("COM200"), env.ComDir() + "/COM200") << "no table applies";
    EXPECT_FALSE(DeviceForPort("LPT1"));
  }
  // Without a port folder, whatever the calling shell had.
  const char* outer = std::getenv("TARVO_COM_DIR");
  const bool hadFolder = outer != nullptr;
  const std::string saved = hadFolder ? outer : "";
  unsetenv("TARVO_COM_DIR");
  EXPECT_FALSE(PortFolder());
  EXPECT_EQ(DeviceForPort("COM2"), "/dev/ttyS1");
  EXPECT_FALSE(DeviceForPort("COM97"));
  EXPECT_EQ(DeviceForPort("/dev/pts/4"), "/dev/pts/4");
  for (const char* unsafe : {"/dev/../etc/passwd", "/dev/./ttyS0", "/dev//ttyS0", "/dev/"}) {
    EXPECT_FALSE(DeviceForPort(unsafe)) << unsafe;
  }
  if (hadFolder) setenv("TARVO_COM_DIR", saved.c_str(), 1);
}

}  // namespace

#include "serial/port/termios_mapping.h"

#include <sys/ioctl.h>

int32_t BitsPerSecond(TBaudRate rate, int32_t customBaudRate) {
  static constexpr int32_t kRates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                       14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  return rate == brCustom ? customBaudRate : kRates[rate];
}

std::optional<speed_t> StandardSpeed(int32_t bitsPerSecond) {
  switch (bitsPerSecond) {
    case 50:
      return B50;
    case 75:
      return B75;
    case 110:
      return B110;
    case 134:
      return B134;
    case 150:
      return B150;
    case 200:
      return B200;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 1800:
      return B1800;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 500000:
      return B500000;
    case 576000:
      return B576000;
    case 921600:
      return B921600;
    case 1000000:
      return B1000000;
    default:
      return std::nullopt;
  }
}

void MakeRawLine(termios& t) {
  t.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                 IUCLC | IXON | IXANY | IXOFF | IMAXBEL);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
}

void SetDataBits(termios& t, TDataBits bits) {
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag = (t.c_cflag & ~CSIZE) | kSizes[bits];
}

void SetParityBits(termios& t, TParityBits parity) {
  t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
  switch (parity) {
    case prNone:
      break;
    case prOdd:
      t.c_cflag |= PARENB | PARODD;
      break;
    case prEven:
      t.c_cflag |= PARENB;
      break;
    // With CMSPAR the parity bit is fixed: PARODD makes it one (mark).
    case prMark:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case prSpace:
      t.c_cflag |= PARENB | CMSPAR;
      break;
  }
}

void SetStopBits(termios& t, TStopBits stopBits) {
  if (stopBits == sbOneStopBit) {
    t.c_cflag &= ~CSTOPB;
  } else {
    t.c_cflag |= CSTOPB;
  }
}

void SetParityCheck(termios& t, bool check) {
  t.c_iflag &= ~(INPCK | PARMRK | IGNPAR);
  if (check) t.c_iflag |= INPCK | PARMRK;
}

void SetSoftwareFlow(termios& t, bool out, bool in, uint8_t xonChar, uint8_t xoffChar) {
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (out) t.c_iflag |= IXON;
  if (in) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(xonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(xoffChar);
}

void SetHardwareFlow(termios& t, bool outCTSFlow, TRTSFlowControl controlRTS) {
  if (outCTSFlow || controlRTS == rtsHandshake) {
    t.c_cflag |= CRTSCTS;
  } else {
    t.c_cflag &= ~CRTSCTS;
  }
}

ModemLineChange ModemLinesFor(TDTRFlowControl controlDTR, TRTSFlowControl controlRTS) {
  ModemLineChange change;
  // Linux has no DTR/DSR handshake: DTR is held on so the far end sees the
  // port ready; DSR-gated output (OutDSRFlow) and input (DSRSensitivity) do
  // not exist, so those settings are kept but do not reach the line.
  (controlDTR == dtrDisable ? change.lower : change.raise) |= TIOCM_DTR;
  // With the handshake the kernel drives RTS itself (CRTSCTS). Linux has no
  // RTS toggling around each transmission in termios, so rtsToggle holds RTS
  // on, which lets a half-duplex far end talk while we listen.
  if (controlRTS == rtsDisable) {
    change.lower |= TIOCM_RTS;
  } else if (controlRTS != rtsHandshake) {
    change.raise |= TIOCM_RTS;
  }
  return change;
}

termios TermiosFor(const termios& current, const LineState& state) {
  termios t = current;
  MakeRawLine(t);
  if (const std::optional<speed_t> speed =
          StandardSpeed(BitsPerSecond(state.baudRate, state.customBaudRate))) {
    cfsetispeed(&t, *speed);
    cfsetospeed(&t, *speed);
    // A rate set through termios2 leaves its own input rate in CIBAUD, which
    // the calls above keep; cleared, the input follows the output rate.
    t.c_cflag &= ~CIBAUD;
  }
  SetDataBits(t, state.dataBits);
  SetParityBits(t, state.parity);
  SetStopBits(t, state.stopBits);
  SetParityCheck(t, state.parityCheck);
  SetSoftwareFlow(t, state.xonXoffOut, state.xonXoffIn, state.xonChar, state.xoffChar);
  SetHardwareFlow(t, state.outCTSFlow, state.controlRTS);
  return t;
}

#pragma once
// The line state as a termios value: one small function per setting, each on
// a plain termios value, so they can be checked without a device.

#include <termios.h>

#include <cstdint>
#include <optional>

#include "serial/port/line_settings.h"

// Bits per second of a rate setting; CustomBaudRate for brCustom.
int32_t BitsPerSecond(TBaudRate rate, int32_t customBaudRate);

// The termios speed of a rate termios knows by name, or nothing: 14400,
// 56000, 128000, 256000 and most custom rates are set through termios2.
std::optional<speed_t> StandardSpeed(int32_t bitsPerSecond);

// No echo, no line editing, no translation, no signals; the receiver on and
// the modem's carrier ignored. A read returns at least one byte, so an empty
// line reads as "would block" and only a hang-up reads as end of file.
void MakeRawLine(termios& t);

void SetDataBits(termios& t, TDataBits bits);
void SetParityBits(termios& t, TParityBits parity);
// Linux knows one or two stop bits; one and a half becomes two, which is
// what a UART does with 1.5 outside five-bit frames anyway.
void SetStopBits(termios& t, TStopBits stopBits);
// A checked line marks each byte received with an error (0xFF 0x00 byte) so
// the input queue can replace it or keep it and report the error.
void SetParityCheck(termios& t, bool check);
void SetSoftwareFlow(termios& t, bool out, bool in, uint8_t xonChar, uint8_t xoffChar);
// Linux ties CTS-gated output and RTS-signalled input into one flag, so
// either setting turns on both directions.
void SetHardwareFlow(termios& t, bool outCTSFlow, TRTSFlowControl controlRTS);

// The modem lines to raise and to lower (TIOCM_* bits) for DTR and RTS.
struct ModemLineChange {
  int raise = 0;
  int lower = 0;
};
ModemLineChange ModemLinesFor(TDTRFlowControl controlDTR, TRTSFlowControl controlRTS);

// The whole line state on top of the current termios value. The speed, in
// both directions, is set only when StandardSpeed knows it; otherwise it is
// left for termios2.
termios TermiosFor(const termios& current, const LineState& state);

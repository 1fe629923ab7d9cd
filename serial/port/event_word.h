#pragma once
// Line events as a flag word (the device's event mask and what the line
// reports), modem status bits, and what a change of the line's counters or
// modem lines means as events and line errors.

#include <cstdint>

#include "serial/CPort.h"

inline constexpr uint32_t kFlagRxChar = 0x0001;
inline constexpr uint32_t kFlagRxFlag = 0x0002;
inline constexpr uint32_t kFlagTxEmpty = 0x0004;
inline constexpr uint32_t kFlagCTS = 0x0008;
inline constexpr uint32_t kFlagDSR = 0x0010;
inline constexpr uint32_t kFlagRLSD = 0x0020;
inline constexpr uint32_t kFlagBreak = 0x0040;
inline constexpr uint32_t kFlagError = 0x0080;
inline constexpr uint32_t kFlagRing = 0x0100;
inline constexpr uint32_t kFlagRx80Full = 0x0400;

// Modem status: the lines that are on.
inline constexpr uint32_t kModemCTSOn = 0x10;
inline constexpr uint32_t kModemDSROn = 0x20;
inline constexpr uint32_t kModemRingOn = 0x40;
inline constexpr uint32_t kModemRLSDOn = 0x80;

uint32_t EventFlags(TComEvents events);
// Flags without an event are ignored.
TComEvents EventsFromFlags(uint32_t flags);

// The modem status of the TIOCM_* bits that TIOCMGET reports.
uint32_t ModemStatusFromLines(int tiocmBits);
// The events of a change between two modem status samples. A ring is the
// ring indicator coming on.
uint32_t ModemChangeFlags(uint32_t before, uint32_t after);

// Counters of the line as the driver keeps them (TIOCGICOUNT).
struct LineCounters {
  int cts = 0, dsr = 0, ring = 0, carrier = 0;
  int frame = 0, overrun = 0, parity = 0, brk = 0, bufferOverrun = 0;
};

// What happened on the line between two counter samples.
struct LineChange {
  uint32_t flags = 0;
  TComErrors errors;
};
LineChange CompareCounters(const LineCounters& before, const LineCounters& after);

#include "serial/port/event_word.h"

#include <sys/ioctl.h>

namespace {

struct EventFlag {
  TComEvent event;
  uint32_t flag;
};

constexpr EventFlag kEventFlags[] = {
    {evRxChar, kFlagRxChar},     {evRxFlag, kFlagRxFlag}, {evTxEmpty, kFlagTxEmpty},
    {evCTS, kFlagCTS},           {evDSR, kFlagDSR},       {evRLSD, kFlagRLSD},
    {evBreak, kFlagBreak},       {evError, kFlagError},   {evRing, kFlagRing},
    {evRx80Full, kFlagRx80Full},
};

}  // namespace

uint32_t EventFlags(TComEvents events) {
  uint32_t flags = 0;
  for (const EventFlag& e : kEventFlags) {
    if (events.Contains(e.event)) flags |= e.flag;
  }
  return flags;
}

TComEvents EventsFromFlags(uint32_t flags) {
  TComEvents events;
  for (const EventFlag& e : kEventFlags) {
    if ((flags & e.flag) != 0) events.Include(e.event);
  }
  return events;
}

uint32_t ModemStatusFromLines(int tiocmBits) {
  uint32_t status = 0;
  if ((tiocmBits & TIOCM_CTS) != 0) status |= kModemCTSOn;
  if ((tiocmBits & TIOCM_DSR) != 0) status |= kModemDSROn;
  if ((tiocmBits & TIOCM_RI) != 0) status |= kModemRingOn;
  if ((tiocmBits & TIOCM_CD) != 0) status |= kModemRLSDOn;
  return status;
}

uint32_t ModemChangeFlags(uint32_t before, uint32_t after) {
  const uint32_t changed = before ^ after;
  uint32_t flags = 0;
  if ((changed & kModemCTSOn) != 0) flags |= kFlagCTS;
  if ((changed & kModemDSROn) != 0) flags |= kFlagDSR;
  if ((changed & kModemRLSDOn) != 0) flags |= kFlagRLSD;
  if ((changed & after & kModemRingOn) != 0) flags |= kFlagRing;
  return flags;
}

LineChange CompareCounters(const LineCounters& before, const LineCounters& after) {
  LineChange change;
  if (after.cts != before.cts) change.flags |= kFlagCTS;
  if (after.dsr != before.dsr) change.flags |= kFlagDSR;
  if (after.carrier != before.carrier) change.flags |= kFlagRLSD;
  if (after.ring != before.ring) change.flags |= kFlagRing;
  if (after.brk != before.brk) {
    change.flags |= kFlagBreak;
    change.errors.Include(ceBreak);
  }
  // Only frame, overrun and parity errors are line-status errors that raise
  // the error event; a break and a full queue are reported by the query.
  if (after.frame != before.frame) change.errors.Include(ceFrame);
  if (after.overrun != before.overrun) change.errors.Include(ceOverrun);
  if (after.parity != before.parity) change.errors.Include(ceRxParity);
  if (after.bufferOverrun != before.bufferOverrun) change.errors.Include(ceRxOver);
  if (change.errors.Contains(ceFrame) || change.errors.Contains(ceOverrun) ||
      change.errors.Contains(ceRxParity)) {
    change.flags |= kFlagError;
  }
  return change;
}

#include "serial/port/line_sampler.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include "serial/port/serial_line.h"

LineSampler::LineSampler(int fd) : fd_(fd), counters_(ReadCounters()), status_(ReadStatus()) {}

void LineSampler::Sample(SerialLine& line) {
  uint32_t flags = 0;
  TComErrors errors;
  if (counters_) {
    const std::optional<LineCounters> now = ReadCounters();
    if (now) {
      const LineChange change = CompareCounters(*counters_, *now);
      flags |= change.flags;
      errors = change.errors;
    }
    counters_ = now;
  }
  if (status_) {
    const std::optional<uint32_t> now = ReadStatus();
    if (now) flags |= ModemChangeFlags(*status_, *now);
    status_ = now;
  }
  if (flags != 0 || !errors.Empty()) line.Record(flags, errors);
}

std::optional<LineCounters> LineSampler::ReadCounters() const {
  serial_icounter_struct icount{};
  if (ioctl(fd_, TIOCGICOUNT, &icount) != 0) return std::nullopt;
  LineCounters counters;
  counters.cts = icount.cts;
  counters.dsr = icount.dsr;
  counters.ring = icount.rng;
  counters.carrier = icount.dcd;
  counters.frame = icount.frame;
  counters.overrun = icount.overrun;
  counters.parity = icount.parity;
  counters.brk = icount.brk;
  counters.bufferOverrun = icount.buf_overrun;
  return counters;
}

std::optional<uint32_t> LineSampler::ReadStatus() const {
  int lines = 0;
  if (ioctl(fd_, TIOCMGET, &lines) != 0) return std::nullopt;
  return ModemStatusFromLines(lines);
}

#pragma once
// Modem lines and line counters have no poll() event, so the event thread
// samples them now and then, on drivers that have them. Pseudo-terminals and
// some USB adapters have neither: then there is nothing to sample and the
// thread sleeps until data or its stop signal arrives.

#include <cstdint>
#include <optional>

#include "serial/port/event_word.h"

class SerialLine;

class LineSampler {
 public:
  // Takes the first sample; what the driver refuses is never asked again.
  explicit LineSampler(int fd);
  bool Active() const { return counters_.has_value() || status_.has_value(); }
  // Records on the line what changed since the last sample. A failing
  // request stops that kind of sampling (the line finds a hang-up itself).
  void Sample(SerialLine& line);

 private:
  std::optional<LineCounters> ReadCounters() const;
  std::optional<uint32_t> ReadStatus() const;

  int fd_;
  std::optional<LineCounters> counters_;
  std::optional<uint32_t> status_;
};

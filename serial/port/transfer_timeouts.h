#pragma once
// What the time-out settings mean for one transfer. The values are the
// reference platform's unsigned 32-bit milliseconds (-1 is all bits set).
// No transfer waits longer than kLongestWaitMs, also where the values mean
// "no limit": a window thread must never hang in a read or write.

#include <chrono>
#include <cstddef>
#include <optional>

#include "serial/port/line_settings.h"

inline constexpr std::chrono::milliseconds kLongestWait{60000};

// multiplier × n + constant; both 0 means no limit.
std::chrono::milliseconds WriteTimeLimit(const LineTimeouts& timeouts, size_t count);

struct ReadPlan {
  // How long the read may wait in all.
  std::chrono::milliseconds total{0};
  // Return as soon as any byte is there.
  bool returnOnFirstBytes = false;
  // Return when no byte followed the last one for this long.
  std::optional<std::chrono::milliseconds> interval;
};

// Read interval -1 with both totals 0 returns at once with what is there.
ReadPlan ReadPlanFor(const LineTimeouts& timeouts, size_t count);

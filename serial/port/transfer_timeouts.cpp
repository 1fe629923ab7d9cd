#include "serial/port/transfer_timeouts.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr uint64_t kAllBits = 0xFFFFFFFFu;

uint64_t Unsigned(int32_t value) { return static_cast<uint32_t>(value); }

std::chrono::milliseconds Bounded(uint64_t ms) {
  return std::chrono::milliseconds(std::min<uint64_t>(ms, kLongestWait.count()));
}

// multiplier × count + constant without overflow; 0 when both are 0.
uint64_t TotalMs(int32_t multiplier, int32_t constant, size_t count) {
  const uint64_t perByte = Unsigned(multiplier);
  const uint64_t bytes = std::min<uint64_t>(count, kAllBits);
  return perByte * bytes + Unsigned(constant);
}

}  // namespace

std::chrono::milliseconds WriteTimeLimit(const LineTimeouts& timeouts, size_t count) {
  const uint64_t total = TotalMs(timeouts.writeTotalMultiplier, timeouts.writeTotalConstant, count);
  return total == 0 ? kLongestWait : Bounded(total);
}

ReadPlan ReadPlanFor(const LineTimeouts& timeouts, size_t count) {
  const uint64_t interval = Unsigned(timeouts.readInterval);
  const uint64_t multiplier = Unsigned(timeouts.readTotalMultiplier);
  const uint64_t constant = Unsigned(timeouts.readTotalConstant);
  ReadPlan plan;
  if (interval == kAllBits && multiplier == 0 && constant == 0) {
    plan.returnOnFirstBytes = true;
    return plan;
  }
  if (interval == kAllBits && multiplier == kAllBits && constant > 0 && constant < kAllBits) {
    plan.returnOnFirstBytes = true;
    plan.total = Bounded(constant);
    return plan;
  }
  const uint64_t total = TotalMs(timeouts.readTotalMultiplier, timeouts.readTotalConstant, count);
  plan.total = total == 0 ? kLongestWait : Bounded(total);
  if (interval != 0 && interval != kAllBits) plan.interval = Bounded(interval);
  return plan;
}

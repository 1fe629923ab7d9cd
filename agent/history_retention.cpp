#include "agent/history_retention.h"

#include <syslog.h>

#include <system_error>

#include "agent/agent_log.h"
#include "station/utc_instant.h"

namespace agent {

namespace {

constexpr uint64_t kDayUsec = 86400ULL * 1000 * 1000;
constexpr int64_t kDayMs = 86400LL * 1000;

}  // namespace

HistoryRetention::HistoryRetention(sd_event* loop, StateDb& db, AgentCore& core, int days)
    : db_(db), core_(core), days_(days) {
  // Monotonic: a clock step neither skips nor repeats a day's pruning.
  const int result =
      sd_event_add_time_relative(loop, &timer_, CLOCK_MONOTONIC, kDayUsec, 0, &OnTimer, this);
  if (result < 0)
    throw std::system_error(-result, std::generic_category(), "sd_event_add_time_relative");
}

HistoryRetention::~HistoryRetention() { sd_event_source_unref(timer_); }

int HistoryRetention::OnTimer(sd_event_source* source, uint64_t, void* self) {
  static_cast<HistoryRetention*>(self)->Prune();
  sd_event_source_set_time_relative(source, kDayUsec);
  sd_event_source_set_enabled(source, SD_EVENT_ONESHOT);
  return 0;
}

void HistoryRetention::Prune() {
  const int64_t before = core_.NowMs() - days_ * kDayMs;
  try {
    const int64_t removed = db_.DeleteEventsBefore(before);
    if (removed > 0)
      core_.Record(station::EventKind::kHistoryPruned, std::nullopt,
                   {{"events", removed},
                    {"before", station::FormatInstant(before)},
                    {"history_days", days_}},
                   LOG_INFO);
  } catch (const std::exception& error) {
    // The history only grows until the next day's try: nothing else waits on it.
    Log(LOG_WARNING, std::string("cannot prune the history: ") + error.what());
  }
}

}  // namespace agent

#pragma once
// Keeps the history to `history_days`: at the start and once a day after,
// events older than that are deleted, and the pruning is itself an event.

#include <systemd/sd-event.h>

#include "agent/agent_core.h"
#include "agent/state_db.h"

namespace agent {

class HistoryRetention {
 public:
  HistoryRetention(sd_event* loop, StateDb& db, AgentCore& core, int days);
  ~HistoryRetention();
  HistoryRetention(const HistoryRetention&) = delete;
  HistoryRetention& operator=(const HistoryRetention&) = delete;

  void Prune();

 private:
  static int OnTimer(sd_event_source* source, uint64_t usec, void* self);

  StateDb& db_;
  AgentCore& core_;
  int days_;
  sd_event_source* timer_ = nullptr;
};

}  // namespace agent

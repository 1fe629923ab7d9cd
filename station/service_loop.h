#pragma once
// A service's one sd-event loop: SIGTERM and SIGINT end it, and it feeds
// systemd's watchdog itself, so a loop stuck for WatchdogSec gets the service
// restarted.

#include <systemd/sd-event.h>

#include <memory>

namespace station {

struct LoopDeleter {
  void operator()(sd_event* loop) const { sd_event_unref(loop); }
};
using ServiceLoop = std::unique_ptr<sd_event, LoopDeleter>;

// Throws std::runtime_error when the loop cannot be made.
ServiceLoop NewServiceLoop();

}  // namespace station

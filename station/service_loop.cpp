#include "station/service_loop.h"

#include <signal.h>

#include <stdexcept>

namespace station {

namespace {

int OnStopSignal(sd_event_source* source, const signalfd_siginfo*, void*) {
  sd_event_exit(sd_event_source_get_event(source), 0);
  return 0;
}

}  // namespace

ServiceLoop NewServiceLoop() {
  sd_event* raw = nullptr;
  if (sd_event_new(&raw) < 0) throw std::runtime_error("cannot make the event loop");
  ServiceLoop loop(raw);
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  sigprocmask(SIG_BLOCK, &stops, nullptr);
  sd_event_add_signal(loop.get(), nullptr, SIGTERM, OnStopSignal, nullptr);
  sd_event_add_signal(loop.get(), nullptr, SIGINT, OnStopSignal, nullptr);
  sd_event_set_watchdog(loop.get(), 1);
  return loop;
}

}  // namespace station

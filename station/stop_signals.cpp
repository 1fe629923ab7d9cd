#include "station/stop_signals.h"

#include <signal.h>

#include <atomic>

namespace station {

namespace {

std::atomic<int> caught{0};
std::atomic<int> first{0};

void Note(int signal) {
  int none = 0;
  first.compare_exchange_strong(none, signal);
  caught.fetch_add(1);
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = Note;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait in poll comes back at once and looks at the time.
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int StopsCaught() { return caught.load(); }
int FirstStopSignal() { return first.load(); }

}  // namespace station

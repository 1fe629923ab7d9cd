#include "serial/port/com_thread.h"

#include <poll.h>

#include <cerrno>
#include <chrono>

#include "serial/port/deadline.h"
#include "serial/port/event_word.h"
#include "serial/port/line_sampler.h"
#include "serial/port/serial_line.h"
#include "serial/port/window_handover.h"

namespace {

// How often modem lines and line counters are compared, where the driver has
// them: often enough for a person's cable or a ring, rare enough to cost
// nothing while the port idles.
constexpr std::chrono::milliseconds kSamplePeriod{50};

constexpr TComEvent kEventOrder[] = {evRxChar, evTxEmpty, evRxFlag, evRing, evBreak,
                                     evCTS,    evDSR,     evError,  evRLSD, evRx80Full};

}  // namespace

TComThread::TComThread(TCustomComPort& port, SerialLine& line, WindowHandOver& handOver)
    : port_(port), line_(line), handOver_(handOver), syncMethod_(port.SyncMethod()) {
  line_.SetEventMask(EventFlags(port.Events()));
  handOver_.Begin(syncMethod_ != smNone);
  thread_ = std::thread(&TComThread::Execute, this);
}

TComThread::~TComThread() {
  if (thread_.joinable()) Stop();
}

void TComThread::Stop() {
  if (std::this_thread::get_id() == thread_.get_id()) {
    // A handler in this thread closes the port (smNone): the thread cannot
    // wait for its own end. It ends the watch here and, back from the
    // handling, leaves without touching this object again.
    EndWatch();
    thread_.detach();
    return;
  }
  stop_ = true;
  line_.Wake();
  handOver_.StopAndServe();
  thread_.join();
}

void TComThread::Execute() {
  const std::weak_ptr<const void> life = life_.Watch();
  LineSampler sampler(line_.Fd());
  Deadline nextSample = Deadline::After(kSamplePeriod);
  while (!stop_) {
    const bool watchLine = line_.WantsInput();
    const bool sampling = sampler.Active() && !line_.HungUp();
    pollfd fds[2] = {{line_.WakeFd(), POLLIN, 0}, {line_.Fd(), POLLIN, 0}};
    const int ready = poll(fds, watchLine ? 2 : 1, sampling ? nextSample.PollMs() : -1);
    if (stop_) break;  // the stop signal outranks what arrived with it
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents != 0) line_.ConsumeWake();
    if (watchLine && fds[1].revents != 0) {
      line_.Drain((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0);
    }
    if (sampling && nextSample.Passed()) {
      sampler.Sample(line_);
      nextSample = Deadline::After(kSamplePeriod);
    }
    const uint32_t flags = line_.TakeEvents();
    if (flags == 0 || stop_) continue;
    const bool handled = Dispatch(EventsFromFlags(flags));
    if (life.expired()) return;  // a handler closed the port from this thread
    if (!handled) break;
  }
  // Ended by ClosePort the watch ends; a thread ended by a failing handler
  // leaves the open port's data alone.
  if (stop_) EndWatch();
  handOver_.Ended();
}

void TComThread::EndWatch() {
  // The device reports nothing more, and what it received and has not yet
  // sent goes; what has left the port stays sent.
  line_.SetEventMask(0);
  line_.DiscardQueues();
}

bool TComThread::Dispatch(TComEvents word) {
  TCustomComPort* port = &port_;
  switch (syncMethod_) {
    case smThreadSync:
      return !handOver_.Call([port, word] { port->HandleHandedOver(word); });
    case smWindowSync:
      // One synchronous notification per event, handled while the port is open.
      for (const TComEvent event : kEventOrder) {
        if (!word.Contains(event)) continue;
        if (stop_) return true;
        const std::exception_ptr error =
            handOver_.Call([port, event] { port->HandleHandedOver({event}); });
        if (error) return false;
      }
      return true;
    case smNone:
      try {
        port->HandleEvents(word);
        return true;
      } catch (...) {
        return false;
      }
  }
  return true;
}

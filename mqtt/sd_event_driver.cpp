#include "mqtt/sd_event_driver.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace tarvo_mqtt {

namespace {

void Check(int rc, const char* what) {
  if (rc < 0) throw std::runtime_error(std::string(what) + ": " + std::strerror(-rc));
}

uint32_t Events(const Interest& interest) { return EPOLLIN | (interest.write ? EPOLLOUT : 0u); }

}  // namespace

SdEventDriver::SdEventDriver(sd_event* loop) : loop_(sd_event_ref(loop)) {
  Check(sd_event_add_time(loop_, &timer_, CLOCK_MONOTONIC, UINT64_MAX, 0, &OnTime, this),
        "cannot add the MQTT client's timer");
  Check(sd_event_source_set_enabled(timer_, SD_EVENT_OFF), "cannot set the MQTT client's timer");
}

SdEventDriver::~SdEventDriver() {
  sd_event_source_disable_unref(io_);
  sd_event_source_disable_unref(timer_);
  sd_event_unref(loop_);
}

void SdEventDriver::Attach(Client& client) {
  client_ = &client;
  Update();
}

void SdEventDriver::Update() {
  if (client_ == nullptr) return;
  const Interest interest = client_->Wanted();
  if (interest.fd != fd_ || interest.attempt != attempt_) {
    io_ = sd_event_source_disable_unref(io_);  // closes our copy too
    fd_ = interest.fd;
    attempt_ = interest.attempt;
    if (fd_ >= 0) {
      // epoll watches the socket itself, not its number: the library closes
      // its descriptor before we hear of it, and a copy of the socket in a
      // child process would keep our entry alive after we let go. Watching a
      // copy of our own keeps the entry ours until we remove it.
      const int copy = fcntl(fd_, F_DUPFD_CLOEXEC, 3);
      Check(copy < 0 ? -errno : 0, "cannot watch the MQTT client's socket");
      const int rc = sd_event_add_io(loop_, &io_, copy, Events(interest), &OnIo, this);
      if (rc < 0) close(copy);
      Check(rc, "cannot watch the MQTT client's socket");
      sd_event_source_set_io_fd_own(io_, 1);
    }
  } else if (io_ != nullptr) {
    Check(sd_event_source_set_io_events(io_, Events(interest)),
          "cannot watch the MQTT client's socket");
  }
  // Setting the timer again, even to the same time, puts it behind every
  // other pending source: an io source that keeps firing would starve it.
  if (interest.wakeAt == wakeAt_) return;
  wakeAt_ = interest.wakeAt;
  if (interest.wakeAt == std::chrono::steady_clock::time_point::max()) {
    sd_event_source_set_enabled(timer_, SD_EVENT_OFF);
    return;
  }
  // steady_clock is CLOCK_MONOTONIC.
  const auto usec =
      std::chrono::duration_cast<std::chrono::microseconds>(interest.wakeAt.time_since_epoch())
          .count();
  sd_event_source_set_time(timer_, static_cast<uint64_t>(std::max<int64_t>(usec, 0)));
  sd_event_source_set_enabled(timer_, SD_EVENT_ONESHOT);
}

int SdEventDriver::OnIo(sd_event_source*, int, uint32_t events, void* self) {
  auto& driver = *static_cast<SdEventDriver*>(self);
  driver.client_->OnReady((events & (EPOLLIN | EPOLLERR | EPOLLHUP)) != 0,
                          (events & EPOLLOUT) != 0);
  driver.Update();
  return 0;
}

int SdEventDriver::OnTime(sd_event_source*, uint64_t, void* self) {
  auto& driver = *static_cast<SdEventDriver*>(self);
  driver.wakeAt_ = std::chrono::steady_clock::time_point::max();  // a oneshot is off once run
  driver.client_->OnTimer();
  driver.Update();
  return 0;
}

}  // namespace tarvo_mqtt

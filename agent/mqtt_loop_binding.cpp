#include "agent/mqtt_loop_binding.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <system_error>

namespace agent {

namespace {

// Housekeeping and retries need no better: many stations' wake-ups then
// fall together.
constexpr uint64_t kTimerAccuracyUsec = 50'000;

ino_t InodeOf(int fd) {
  struct stat info{};
  return fd >= 0 && fstat(fd, &info) == 0 ? info.st_ino : 0;
}

}  // namespace

MqttLoopBinding::MqttLoopBinding(sd_event* loop, tarvo_mqtt::Client& client) : loop_(loop), client_(client) {
  const int result = sd_event_add_time(loop_, &timer_, CLOCK_MONOTONIC, UINT64_MAX, kTimerAccuracyUsec,
                                       &MqttLoopBinding::OnTime, this);
  if (result < 0) throw std::system_error(-result, std::generic_category(), "sd_event_add_time");
  sd_event_source_set_enabled(timer_, SD_EVENT_OFF);
}

MqttLoopBinding::~MqttLoopBinding() {
  sd_event_source_disable_unref(io_);
  sd_event_source_disable_unref(timer_);
}

void MqttLoopBinding::Update() {
  const tarvo_mqtt::Interest wanted = client_.Wanted();
  const uint32_t events = EPOLLIN | (wanted.write ? static_cast<uint32_t>(EPOLLOUT) : 0u);
  const ino_t inode = InodeOf(wanted.fd);
  if (wanted.fd != fd_ || inode != socketInode_) {
    sd_event_source_disable_unref(io_);
    io_ = nullptr;
    fd_ = wanted.fd;
    socketInode_ = inode;
    // The loop watches its own copy of the socket: the library closes its
    // socket inside a call, and another station's new socket may take the
    // number before this binding hears of it.
    const int watched = fd_ >= 0 ? fcntl(fd_, F_DUPFD_CLOEXEC, 0) : -1;
    if (watched >= 0 && sd_event_add_io(loop_, &io_, watched, events, &MqttLoopBinding::OnIo, this) >= 0) {
      sd_event_source_set_io_fd_own(io_, 1);
    } else {
      if (watched >= 0) close(watched);
      fd_ = -1;
    }
  } else if (io_ != nullptr) {
    sd_event_source_set_io_events(io_, events);
  }
  if (wanted.wakeAt == std::chrono::steady_clock::time_point::max()) {
    sd_event_source_set_enabled(timer_, SD_EVENT_OFF);
    return;
  }
  // steady_clock is CLOCK_MONOTONIC.
  const auto usec =
      std::chrono::duration_cast<std::chrono::microseconds>(wanted.wakeAt.time_since_epoch()).count();
  sd_event_source_set_time(timer_, usec > 0 ? static_cast<uint64_t>(usec) : 1);
  sd_event_source_set_enabled(timer_, SD_EVENT_ONESHOT);
}

int MqttLoopBinding::OnIo(sd_event_source*, int, uint32_t events, void* self) {
  auto* binding = static_cast<MqttLoopBinding*>(self);
  binding->client_.OnReady((events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0, (events & EPOLLOUT) != 0);
  binding->Update();
  return 0;
}

int MqttLoopBinding::OnTime(sd_event_source*, uint64_t, void* self) {
  auto* binding = static_cast<MqttLoopBinding*>(self);
  binding->client_.OnTimer();
  binding->Update();
  return 0;
}

}  // namespace agent

#include "agent/sign_worker.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <system_error>

namespace agent {

SignWorker::SignWorker(sd_event* loop) {
  eventFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (eventFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  const int result = sd_event_add_io(loop, &source_, eventFd_, EPOLLIN, &SignWorker::OnFinished, this);
  if (result < 0) {
    close(eventFd_);
    throw std::system_error(-result, std::generic_category(), "sd_event_add_io");
  }
  thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

SignWorker::~SignWorker() {
  thread_.request_stop();
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  sd_event_source_disable_unref(source_);
  close(eventFd_);
}

void SignWorker::Start(std::function<void()> work, std::function<void()> done) {
  busy_ = true;
  done_ = std::move(done);
  {
    std::lock_guard lock(mutex_);
    work_ = std::move(work);
  }
  wake_.notify_all();
}

void SignWorker::Run(std::stop_token stop) {
  for (;;) {
    std::function<void()> work;
    {
      std::unique_lock lock(mutex_);
      if (!wake_.wait(lock, stop, [this] { return static_cast<bool>(work_); })) return;
      work = std::move(work_);
      work_ = nullptr;
    }
    work();
    const uint64_t one = 1;
    (void)!write(eventFd_, &one, sizeof one);
  }
}

int SignWorker::OnFinished(sd_event_source*, int fd, uint32_t, void* self) {
  uint64_t count = 0;
  (void)!read(fd, &count, sizeof count);
  auto* worker = static_cast<SignWorker*>(self);
  if (!worker->busy_) return 0;
  worker->busy_ = false;
  std::function<void()> done = std::move(worker->done_);
  done();
  return 0;
}

}  // namespace agent

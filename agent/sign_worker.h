#pragma once
// The one thread that talks to the sign. A session blocks for tens to
// hundreds of milliseconds, so it never runs on the event loop: the loop hands
// over one piece of work at a time, and gets `done` called on its own thread
// once the work has ended (an eventfd that the loop watches).

#include <systemd/sd-event.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace agent {

class SignWorker {
 public:
  explicit SignWorker(sd_event* loop);
  ~SignWorker();
  SignWorker(const SignWorker&) = delete;
  SignWorker& operator=(const SignWorker&) = delete;

  // Only while not Busy(). work runs on the worker thread; done on the loop.
  void Start(std::function<void()> work, std::function<void()> done);
  bool Busy() const { return busy_; }

 private:
  static int OnFinished(sd_event_source* source, int fd, uint32_t events, void* self);
  void Run(std::stop_token stop);

  int eventFd_ = -1;
  sd_event_source* source_ = nullptr;
  bool busy_ = false;  // the loop's own view: from Start until done has run
  std::function<void()> done_;
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::function<void()> work_;  // guarded by mutex_
  std::jthread thread_;
};

}  // namespace agent

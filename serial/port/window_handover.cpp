#include "serial/port/window_handover.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <cstdint>

WindowHandOver::WindowHandOver()
    : windowThread_(QThread::currentThread()), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WindowHandOver::~WindowHandOver() {
  notifier_.reset();
  if (wakeFd_ >= 0) close(wakeFd_);
}

void WindowHandOver::Begin(bool handOvers) {
  // Without an event loop (none yet, or another thread) nothing is served
  // between calls; ClosePort still serves what waits. Without hand-overs the
  // notifier goes, so that it never ends outside its thread.
  const bool windowThread = QThread::currentThread() == windowThread_;
  if (!handOvers && windowThread) notifier_.reset();
  if (handOvers && !notifier_ && wakeFd_ >= 0 && windowThread &&
      QAbstractEventDispatcher::instance() != nullptr) {
    notifier_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { Serve(); });
  }
  std::lock_guard lock(mutex_);
  work_ = nullptr;
  state_ = State::kIdle;
  error_ = nullptr;
  stopping_ = false;
  ended_ = false;
}

std::exception_ptr WindowHandOver::Call(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return nullptr;
    work_ = std::move(work);
    state_ = State::kPending;
    error_ = nullptr;
  }
  const uint64_t one = 1;
  const ssize_t ignored = write(wakeFd_, &one, sizeof one);  // a full counter wakes as well
  static_cast<void>(ignored);
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return state_ == State::kDone || stopping_; });
  std::exception_ptr error = state_ == State::kDone ? error_ : nullptr;
  work_ = nullptr;
  state_ = State::kIdle;
  error_ = nullptr;
  return error;
}

void WindowHandOver::Ended() {
  std::lock_guard lock(mutex_);
  ended_ = true;
  changed_.notify_all();
}

void WindowHandOver::StopAndServe() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  changed_.notify_all();
  while (!ended_) {
    if (state_ == State::kPending) {
      lock.unlock();
      Serve();
      lock.lock();
    } else {
      changed_.wait(lock);
    }
  }
}

void WindowHandOver::Serve() {
  uint64_t wakes = 0;
  const ssize_t ignored = read(wakeFd_, &wakes, sizeof wakes);
  static_cast<void>(ignored);
  std::function<void()> work;
  {
    std::lock_guard lock(mutex_);
    if (state_ != State::kPending) return;
    work = std::move(work_);
    state_ = State::kRunning;
  }
  const std::weak_ptr<const void> life = life_.Watch();
  std::exception_ptr error;
  try {
    work();
  } catch (...) {
    error = std::current_exception();
  }
  if (life.expired()) return;  // the work destroyed the port, and this with it
  std::lock_guard lock(mutex_);
  if (state_ == State::kRunning) {
    state_ = State::kDone;
    error_ = error;
  }
  changed_.notify_all();
}

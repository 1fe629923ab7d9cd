#include "serial/window_handover.h"

#include <QMetaObject>

void WindowHandOver::Begin() {
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
  // Queued by name: the event carries nothing of ours across threads.
  QMetaObject::invokeMethod(this, "Serve", Qt::QueuedConnection);
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
  std::function<void()> work;
  {
    std::lock_guard lock(mutex_);
    if (state_ != State::kPending) return;
    work = std::move(work_);
    state_ = State::kRunning;
  }
  std::exception_ptr error;
  try {
    work();
  } catch (...) {
    error = std::current_exception();
  }
  std::lock_guard lock(mutex_);
  if (state_ == State::kRunning) {
    state_ = State::kDone;
    error_ = error;
  }
  changed_.notify_all();
}

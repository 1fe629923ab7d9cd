#pragma once
// Hands work from the event thread to the thread that created the port (the
// window thread) and waits until it ran there, like a synchronous call. The
// window thread serves it from its Qt event loop, or while it closes the
// port. The state lives under a std::mutex and condition variable, which
// thread sanitizers see. The event thread only writes an eventfd that a
// socket notifier of the window thread watches, so no Qt object or event
// crosses between the threads.

#include <QSocketNotifier>
#include <QThread>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

#include "serial/port/life_token.h"

class WindowHandOver {
 public:
  WindowHandOver();  // in the window thread
  ~WindowHandOver();
  WindowHandOver(const WindowHandOver&) = delete;
  WindowHandOver& operator=(const WindowHandOver&) = delete;

  // Before an event thread starts: a fresh start. In the window thread it
  // also lets the Qt event loop serve hand-overs when they will come, once
  // that loop exists.
  void Begin(bool handOvers);
  // Event thread: runs work in the window thread and waits until it ran or
  // the hand-over was stopped. Returns what the work raised, if anything.
  // The work must own what it uses: after a stop it may run on its own.
  std::exception_ptr Call(std::function<void()> work);
  // Event thread, as its last act.
  void Ended();
  // Window thread: stops the hand-over and serves what is pending until the
  // event thread has ended, so neither waits for the other.
  void StopAndServe();

 private:
  enum class State { kIdle, kPending, kRunning, kDone };
  void Serve();

  QThread* const windowThread_;
  const int wakeFd_;
  std::unique_ptr<QSocketNotifier> notifier_;
  LifeToken life_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> work_;
  State state_ = State::kIdle;
  std::exception_ptr error_;
  bool stopping_ = false;
  bool ended_ = false;
};

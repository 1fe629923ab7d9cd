#pragma once
// Hands work from the event thread to the thread that created the port (the
// window thread) and waits until it ran there, like a synchronous call. The
// window thread serves it from its Qt event loop, or while it closes the
// port. The state lives under a std::mutex and condition variable, which
// thread sanitizers see; the queued call only wakes the window thread.

#include <QObject>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>

class WindowHandOver : public QObject {
  Q_OBJECT

 public:
  WindowHandOver() = default;

  // Window thread, before an event thread starts: a fresh start.
  void Begin();
  // Event thread: runs work in the window thread and waits until it ran or
  // the hand-over was stopped. Returns what the work raised, if anything.
  // The work must own what it uses: after a stop it may run on its own.
  std::exception_ptr Call(std::function<void()> work);
  // Event thread, as its last act.
  void Ended();
  // Window thread: stops the hand-over and serves what is pending until the
  // event thread has ended, so neither waits for the other.
  void StopAndServe();

 private Q_SLOTS:
  void Serve();

 private:
  enum class State { kIdle, kPending, kRunning, kDone };

  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> work_;
  State state_ = State::kIdle;
  std::exception_ptr error_;
  bool stopping_ = false;
  bool ended_ = false;
};

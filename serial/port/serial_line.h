#pragma once
// One open serial device: the descriptor held exclusively, the line settings it had
// before, the applied settings, and the port's own input queue. The window
// thread's operations and the event thread meet here; a mutex guards what
// both touch. Every failure raises EComPort with the caller's code.

#include <cstdint>
#include <mutex>
#include <string>

#include "serial/CPort.h"
#include "serial/port/deadline.h"
#include "serial/port/input_queue.h"
#include "serial/port/line_settings.h"
#include "serial/port/line_snapshot.h"

class SerialLine {
 public:
  // Opens the device of a port name for exclusive use; raises 1 with the
  // errno of the failing call and leaves nothing open.
  explicit SerialLine(const std::string& port);
  // Gives the terminal back as it was found and closes it.
  ~SerialLine();
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  void ApplyState(const LineState& state);                   // raises 7
  void ApplyTimeouts(const LineTimeouts& timeouts);          // never fails
  void ApplyBuffers(int32_t inputSize, int32_t outputSize);  // raises 9

  void Purge(bool input, bool output);    // raises 5
  int32_t Send(const std::string& text);  // raises 2
  int32_t QueueCount();                   // raises 10
  // Waits until the input queue holds count bytes or the deadline passed,
  // whichever comes first; raises 10 when the device went away.
  void WaitForInput(size_t count, const Deadline& deadline);
  // Takes up to count (> 0) bytes as the read time-outs allow; raises 3.
  int32_t Read(std::string& text, int32_t count);
  // The line errors since the last query or count, cleared; raises 10.
  TComErrors TakeLineErrors();
  uint32_t ModemStatus();  // raises 11

  // ---- for the event thread
  int Fd() const { return fd_; }
  int WakeFd() const { return wakeFd_; }
  // Sets the events the line reports (kFlag* bits) and forgets older ones.
  void SetEventMask(uint32_t flags);
  // Moves what the terminal holds into the input queue; hungUp tells that
  // poll saw the device go away.
  void Drain(bool hungUp = false);
  // Whether the thread should watch the descriptor: not after a hang-up,
  // and not while a full queue holds input back for flow control.
  bool WantsInput();
  bool HungUp();
  // Notes events and line errors seen on the line; wakes the thread.
  void Record(uint32_t flags, TComErrors errors);
  uint32_t TakeEvents();
  void Wake() const;
  void ConsumeWake() const;
  // Clears the input queue and what the terminal holds, as Purge does for
  // both; errors are ignored.
  void DiscardQueues();

 private:
  void DrainLocked();
  // Discards received bytes not yet read and output not yet sent; returns 0
  // or the errno of the failing call.
  int DiscardLocked(bool input, bool output);
  void RecordLocked(uint32_t flags, TComErrors errors);
  // Raises code when the device went away.
  void CheckPresentLocked(int code) const;
  bool WaitWritable(const Deadline& deadline);
  // Waits until the driver sent what it holds; the bytes left when the
  // deadline passed.
  int WaitSent(const Deadline& deadline, int32_t bitsPerSecond);

  int fd_ = -1;
  int wakeFd_ = -1;
  LineSnapshot saved_;
  bool pseudoTerminal_ = false;

  std::mutex mutex_;  // guards everything below
  InputQueue queue_;
  LineState state_;
  LineTimeouts timeouts_;
  bool holdWhenFull_ = false;
  uint32_t eventMask_ = 0;
  uint32_t pendingEvents_ = 0;
  TComErrors lineErrors_;
  int hangUpError_ = 0;  // errno reported once the device went away
};

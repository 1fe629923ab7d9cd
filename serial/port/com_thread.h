#pragma once
// The port's event thread: exists exactly while the port is open with a
// non-empty Events set. It watches the line, never takes a received byte for
// itself (bytes it moves stay in the port's queue for the program's reads),
// and hands each event word to the port's handling as SyncMethod says.

#include <atomic>
#include <thread>

#include "serial/CPort.h"
#include "serial/port/life_token.h"

class SerialLine;
class WindowHandOver;

class TComThread {
 public:
  // Sets the line's event mask from the port's Events and starts watching.
  TComThread(TCustomComPort& port, SerialLine& line, WindowHandOver& handOver);
  ~TComThread();
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;

  // Window thread: signals stop and waits for the end, serving hand-overs.
  // In the thread itself (a handler closing the port): ends the watch at
  // once and lets the thread run out on its own.
  void Stop();

 private:
  void Execute();
  // Returns false when the handling raised: that ends the thread.
  bool Dispatch(TComEvents word);
  void EndWatch();

  TCustomComPort& port_;
  SerialLine& line_;
  WindowHandOver& handOver_;
  const TSyncMethod syncMethod_;
  std::atomic<bool> stop_{false};
  LifeToken life_;
  std::thread thread_;
};

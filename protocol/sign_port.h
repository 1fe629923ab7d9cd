#pragma once

#include <cstdint>
#include <string>

// What the sign's exchanges need of a serial port: discard the queues, send,
// count what is waiting, wait for a count to arrive, take a fixed number of
// bytes. The serial component
// fits it through ComPortLink; tests may drive the procedures with a fake.
class SignPort {
 public:
  virtual ~SignPort() = default;
  virtual void PurgeBuffers(bool input, bool output) = 0;
  virtual int32_t SendText(const std::string& text) = 0;
  virtual int32_t InputQueueCount() = 0;
  // Until count bytes wait or timeoutMs passed; what waits then.
  virtual int32_t WaitForInput(int32_t count, int timeoutMs) = 0;
  virtual int32_t ReadBytes(std::string& text, int32_t count) = 0;
};

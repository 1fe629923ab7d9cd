#pragma once

#include <cstdint>
#include <string>

// What the sign's exchanges need of a serial port: discard the queues, send,
// count what is waiting, take a fixed number of bytes. The serial component
// fits it through ComPortLink; tests may drive the procedures with a fake.
class SignPort {
 public:
  virtual ~SignPort() = default;
  virtual void PurgeBuffers(bool input, bool output) = 0;
  virtual int32_t SendText(const std::string& text) = 0;
  virtual int32_t InputQueueCount() = 0;
  virtual int32_t ReadBytes(std::string& text, int32_t count) = 0;
};

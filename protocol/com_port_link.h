#pragma once

#include "protocol/sign_port.h"
#include "serial/CPort.h"

// The serial component as the sign's port; errors pass through as EComPort.
class ComPortLink final : public SignPort {
 public:
  explicit ComPortLink(TCustomComPort& port) : port_(port) {}
  void PurgeBuffers(bool input, bool output) override { port_.PurgeBuffers(input, output); }
  int32_t SendText(const std::string& text) override { return port_.SendText(text); }
  int32_t InputQueueCount() override { return port_.InputQueueCount(); }
  int32_t WaitForInput(int32_t count, int timeoutMs) override {
    return port_.WaitForInput(count, timeoutMs);
  }
  int32_t ReadBytes(std::string& text, int32_t count) override {
    return port_.ReadBytes(text, count);
  }

 private:
  TCustomComPort& port_;
};

#pragma once
// A port named COM3 in a private port folder, on a pseudo-terminal that the
// test plays as the device.

#include <gtest/gtest.h>
#include <termios.h>

#include <string>

#include "serial/CPort.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/pty_pair.h"
#include "tests/support/wait_for.h"

namespace tarvo::test {

class PortTest : public ::testing::Test {
 protected:
  PortTest() {
    env.Publish("COM3", pty.TerminalPath());
    port.SetPort("COM3");
  }

  termios Terminal() const {
    termios t{};
    EXPECT_EQ(tcgetattr(pty.TerminalFd(), &t), 0);
    return t;
  }

  // Waits until the port counts `count` bytes waiting.
  bool WaitForCount(int count) {
    return WaitFor([&] { return port.InputQueueCount() == count; });
  }

  HermeticEnv env;
  PtyPair pty;
  TComPort port;
};

// Runs call and returns the EComPort it raised as "code/errno", or "none".
template <typename Call>
std::string RaisedBy(Call call) {
  try {
    call();
  } catch (const EComPort& e) {
    return std::to_string(e.ErrorCode()) + "/" + std::to_string(e.SystemError());
  }
  return "none";
}

}  // namespace tarvo::test

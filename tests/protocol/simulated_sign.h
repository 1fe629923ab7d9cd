#pragma once
// A simulated sign on COM1 of a private port folder, and the serial component
// opened on it with the sign's line settings, as the window's definition and
// the search leave it. For tests and benchmarks of the exchanges over a real
// pseudo-terminal.

#include "protocol/com_port_link.h"
#include "serial/CPort.h"
#include "sim/sign_simulator.h"
#include "tests/support/hermetic_env.h"

namespace tarvo::test {

class SimulatedSign {
 public:
  SimulatedSign() : simulator_(env_.ComDir()), sign_(simulator_.AddSign("COM1")) {
    simulator_.Start();
    port_.SetPort("COM1");
    port_.SetBaudRate(br19200);
    port_.SetDiscardNull(true);
    port_.OpenPort();
  }

  sign_sim::SimSign& Sign() { return sign_; }
  TComPort& Port() { return port_; }
  SignPort& Link() { return link_; }

 private:
  HermeticEnv env_;
  sign_sim::SignSimulator simulator_;
  sign_sim::SimSign& sign_;
  TComPort port_;
  ComPortLink link_{port_};
};

}  // namespace tarvo::test

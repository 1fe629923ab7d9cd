#pragma once
// The command line of tarvo-sign-sim.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "protocol/sign_link.h"
#include "sim/brightness.h"
#include "sim/sign_faults.h"

namespace sign_sim {

struct SignOptions {
  std::string port;
  SignFaults faults;
  std::map<uint8_t, sign_link::PanelRecord> panels;
  int brightness = kBrightnessAutomatic;
  int lineRate = 0;  // bits per second; 0: no line time
};

struct SimOptions {
  std::string dir;
  std::vector<SignOptions> signs;
  bool help = false;
};

// Options before the first --port apply to every sign; options after a
// --port to that sign alone. Throws std::invalid_argument with a message for
// the user when the line makes no sense.
SimOptions ParseSimOptions(const std::vector<std::string>& args);

std::string SimUsage();

}  // namespace sign_sim

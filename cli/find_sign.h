#pragma once
// find: every candidate port probed at once, each on its own thread with its
// own port, with the window's probe and acceptance test.

#include <optional>
#include <string>
#include <vector>

#include "cli/failure.h"
#include "cli/options.h"
#include "cli/trace.h"

namespace tarvo_cli {

struct ProbeOutcome {
  std::string name;
  std::string device;
  bool answered = false;  // a sign answered like a sign
  std::string failure;    // why the port could not be opened ("" when it was)
};

struct FindResult {
  std::vector<ProbeOutcome> ports;  // in the order of the port list
  std::optional<std::string> used;  // the highest number that answered, as the window keeps
};

// The system's serial ports by name. Throws CliFailure (port error) when
// they cannot be listed.
std::vector<std::string> ListedPorts();

// Throws CliFailure (port error) when the ports cannot be listed.
FindResult FindSign(const Options& options, Tracer* tracer);

// "no sign found: COM1 (/dev/ttyS0) silent, COM2 (...) busy: ...; check ...".
std::string NoSignText(const FindResult& found);
// No sign answered: a port error when every port that exists could not be
// opened (the sign may be behind one), else not confirmed.
ExitStatus NoSignStatus(const FindResult& found);

// The port a sign command talks to: --port, or the one find uses. No sign
// found is CliFailure (NoSignStatus) that says why for every port.
std::string ChosenPort(const Options& options, Tracer* tracer);

}  // namespace tarvo_cli

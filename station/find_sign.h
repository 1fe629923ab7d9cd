#pragma once
// find: every candidate port probed at once, each on its own thread with its
// own port, with the window's probe and acceptance test.

#include <optional>
#include <string>
#include <vector>

#include "station/failure.h"
#include "station/trace.h"

namespace station {

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
// timeoutMs is the wait for one answer on each port; tracer may be null.
FindResult FindSign(int timeoutMs, Tracer* tracer);

// "no sign found: COM1 (/dev/ttyS0) silent, COM2 (...) busy: ...; check ...".
std::string NoSignText(const FindResult& found);
// No sign answered: a port error when every port that exists could not be
// opened (the sign may be behind one), else not confirmed.
ExitStatus NoSignStatus(const FindResult& found);

// The port a sign command talks to: the one named, or the one find uses. No sign
// found is CliFailure (NoSignStatus) that says why for every port.
std::string ChosenPort(const std::optional<std::string>& port, int timeoutMs, Tracer* tracer);

}  // namespace station

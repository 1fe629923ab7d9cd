#pragma once
// One session with the sign, run on the worker thread: open the port (or find
// the sign), read all ten panels (or only those of its scope whose fields the
// sign must fill in), write the panels that differ from what should be there
// (in a scope without a read, every panel of it), read those back and verify
// each, set the brightness, close. Nothing read in an earlier session counts.
// Uses protocol/'s exchanges that wait for the bytes; nothing here touches the
// agent's state.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agent/desired_state.h"
#include "station/port_state.h"

namespace agent {

struct SignJob {
  std::string port;     // "auto", COMn or a device path
  int timeoutMs = 100;  // the wait for one answer
  bool write = true;     // write what differs (else only report it)
  bool readAll = true;   // read all ten panels first; else bring about the scope alone
  std::set<uint8_t> scope;
  std::set<uint8_t> readFirst;  // of the scope: read before they are written, if they differ
  DesiredState desired;  // its panels; may be empty (a read alone)
  std::optional<std::string> brightness;  // to send: "auto" or "0".."9"
};

struct PanelOutcome {
  uint8_t address = 0;
  std::optional<sign_link::PanelRecord> wanted;  // nothing: unknown (see skipped)
  std::optional<sign_link::PanelRecord> shown;   // what the sign held before
  bool sent = false;
  bool acknowledged = false;
  bool verified = false;
  std::optional<sign_link::PanelRecord> after;  // the read-back after the write
  std::string skipped;                          // why nothing was sent
};

struct SignJobResult {
  std::string port;    // the port talked to ("" when none was found)
  std::string device;  // its device file
  // Set when the port could not be used or failed midway (not when the port
  // worked and the sign did not answer).
  std::optional<station::PortState> portState;
  std::string problem;  // the failure in words (port error, no sign found, a silent sign)
  std::string holder;   // who holds the port, when busy
  Readback readback;     // what this session read, panel by panel (a written panel: its read-back)
  std::vector<PanelOutcome> panels;  // the panels that differed from what they should hold
  std::optional<bool> brightnessConfirmed;  // when it was sent: the echo matched

  bool Failed() const { return !problem.empty(); }
};

SignJobResult RunSignJob(const SignJob& job);

}  // namespace agent

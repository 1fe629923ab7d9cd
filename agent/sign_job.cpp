#include "agent/sign_job.h"

#include <algorithm>

#include "station/failure.h"
#include "station/find_sign.h"
#include "station/port_error.h"
#include "station/sign_line.h"
#include "station/sign_panels.h"
#include "protocol/brightness.h"
#include "protocol/read_sign.h"
#include "protocol/write_sign.h"
#include "serial/port/port_names.h"

namespace agent {

namespace {

// The panel's read with its retries; nothing when no proper reply came.
std::optional<sign_link::PanelRecord> ReadOne(station::SignLine& line, uint8_t address) {
  if (!sign_exchange::ReadPanel(line.Port(), address, line.Context())) return std::nullopt;
  return sign_link::DecodeReply(line.Context().replyBuffer);
}

bool SendBrightness(station::SignLine& line, const std::string& level, int timeoutMs) {
  std::string echo;
  const std::chrono::milliseconds wait(timeoutMs);
  const auto how = sign_exchange::AnswerWait::ForBytes;
  if (level == "auto") {
    SetAutomaticBrightness(line.Port(), echo, wait, how);
    return echo == "LA";
  }
  SetManualBrightness(line.Port(), level, echo, wait, how);
  return echo == "LM" + level;
}

// A session reads what it needs now: what the agent read earlier says nothing
// of what the sign holds (a window or a --direct write may have changed it
// since), so a panel is written unless this session read it right, and a
// confirmation comes only from this session's read-back.
void Talk(const SignJob& job, station::SignLine& line, SignJobResult& result) {
  Readback known;
  if (job.readAll) {
    for (const auto& [address, record] :
         station::ReadPanels(line, station::PortLabel(result.port, result.device))) {
      known[address] = record;
      result.readback[address] = record;
    }
  }
  for (const auto& [address, request] : job.desired.panels) {
    if (!job.readAll && !job.scope.count(address)) continue;
    if (!job.readAll && (job.readFirst.count(address) || !station::Complete(request))) {
      // The fields a change left out are the sign's own; a panel that
      // should hold already is written only when it does not.
      known[address] = ReadOne(line, address);
      result.readback[address] = known[address];
    }
    const bool read = known.count(address) > 0;
    PanelOutcome outcome;
    outcome.address = address;
    outcome.shown = read ? known[address] : std::nullopt;
    outcome.wanted = job.desired.Target(address, known);
    if (read && outcome.wanted && outcome.shown == outcome.wanted) continue;
    const std::optional<std::string> fault =
        outcome.wanted ? sign_link::RecordFault(address, *outcome.wanted) : std::nullopt;
    if (!outcome.wanted) {
      outcome.skipped = "the sign did not tell what it holds";
    } else if (fault) {
      outcome.skipped = "the link cannot carry it: " + *fault;
    } else if (!job.write) {
      outcome.skipped = "drift is only reported";
    } else {
      outcome.sent = true;
      outcome.acknowledged =
          sign_exchange::WritePanel(line.Port(), address, *outcome.wanted, line.Context()).acknowledged;
    }
    result.panels.push_back(outcome);
  }
  for (PanelOutcome& outcome : result.panels) {
    if (!outcome.sent) continue;
    outcome.after = ReadOne(line, outcome.address);
    result.readback[outcome.address] = outcome.after;
    outcome.verified = outcome.after == outcome.wanted;
  }
  if (job.brightness) result.brightnessConfirmed = SendBrightness(line, *job.brightness, job.timeoutMs);
}

}  // namespace

SignJobResult RunSignJob(const SignJob& job) {
  SignJobResult result;
  try {
    if (job.port == "auto") {
      const station::FindResult found = station::FindSign(job.timeoutMs, nullptr);
      if (!found.used) {
        result.portState = station::PortState::kNoDevice;
        result.problem = station::NoSignText(found);
        return result;
      }
      result.port = *found.used;
    } else {
      result.port = job.port;
    }
  } catch (const station::CliFailure& failure) {
    result.portState = station::PortState::kNoDevice;
    result.problem = failure.what();
    return result;
  }
  result.device = DeviceForPort(result.port).value_or("");
  try {
    station::SignLine line(result.port, job.timeoutMs, nullptr);
    Talk(job, line, result);
  } catch (const station::CliFailure& failure) {
    // The port works; the sign does not answer (or too slowly).
    result.problem = failure.what();
  } catch (const EComPort& error) {
    const station::PortStatus status = station::InspectPort(result.port);
    result.portState = status.state;
    result.holder = status.holder;
    result.problem = station::PortErrorText(error, result.port);
  }
  return result;
}

}  // namespace agent

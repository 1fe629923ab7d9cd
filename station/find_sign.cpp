#include "station/text.h"
#include "station/find_sign.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "station/failure.h"
#include "station/port_error.h"
#include "station/port_state.h"
#include "station/sign_line.h"
#include "protocol/sign_probe.h"
#include "serial/port/port_list.h"
#include "serial/port/port_names.h"

namespace station {

namespace {

// Only quoted in the probe's log, as the window does.
constexpr int kSearchDelay = 200;

void Probe(ProbeOutcome& outcome, int timeoutMs, Tracer* tracer) {
  try {
    SignLine line(outcome.name, timeoutMs, tracer);
    outcome.answered =
        sign_exchange::ProbeAnswersLikeSign(line.Port(), line.Context(), kSearchDelay);
  } catch (const EComPort& error) {
    outcome.failure = PortErrorText(error, outcome.name);
  } catch (const std::exception& error) {
    // Nothing may leave a probe's thread; the machine's failure is this port's.
    outcome.failure = error.what();
  }
}

}  // namespace

std::vector<std::string> ListedPorts() {
  std::vector<std::string> names;
  try {
    ListSerialPorts(names);
  } catch (const EComPort& error) {
    const std::optional<std::string> folder = PortFolder();
    throw CliFailure(ExitStatus::kPortError,
                     station::Format("cannot list the ports in %s: %s",
                                     {folder.value_or("/dev"), std::strerror(error.SystemError())}));
  }
  return names;
}

FindResult FindSign(int timeoutMs, Tracer* tracer) {
  FindResult result;
  for (const std::string& name : ListedPorts())
    result.ports.push_back({name, DeviceForPort(name).value_or(""), false, ""});
  {
    std::vector<std::jthread> probes;
    for (ProbeOutcome& outcome : result.ports)
      probes.emplace_back([&outcome, timeoutMs, tracer] { Probe(outcome, timeoutMs, tracer); });
  }
  for (const ProbeOutcome& outcome : result.ports) {
    if (outcome.answered &&
        (!result.used || ComNumber(outcome.name).value_or(0) > ComNumber(*result.used).value_or(0)))
      result.used = outcome.name;
  }
  return result;
}

ExitStatus NoSignStatus(const FindResult& found) {
  const bool noneOpened =
      !found.ports.empty() && std::all_of(found.ports.begin(), found.ports.end(),
                                          [](const auto& port) { return !port.failure.empty(); });
  return noneOpened ? ExitStatus::kPortError : ExitStatus::kNotConfirmed;
}

std::string NoSignText(const FindResult& found) {
  std::string why;
  for (const ProbeOutcome& outcome : found.ports) {
    why += (why.empty() ? "" : ", ") + station::PortLabel(outcome.name, outcome.device) + " " +
           (outcome.failure.empty() ? station::Tr("silent") : outcome.failure);
  }
  if (why.empty()) why = station::Tr("no serial port exists");
  if (NoSignStatus(found) == ExitStatus::kPortError)
    return station::Format("no sign found: no port could be opened: %s", {why});
  return station::Format("no sign found: %s; check the sign's cable and power", {why});
}

std::string ChosenPort(const std::optional<std::string>& port, int timeoutMs, Tracer* tracer) {
  if (port) return *port;
  const FindResult found = FindSign(timeoutMs, tracer);
  if (found.used) return *found.used;
  throw CliFailure(NoSignStatus(found), NoSignText(found));
}

}  // namespace station

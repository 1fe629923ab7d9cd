// write: read the sign (the "before"), send the frames of the panels asked
// for, read back and verify; one journal line whatever happens after the
// port was opened.
#include <signal.h>

#include <algorithm>

#include "station/text.h"
#include "cli/commands.h"
#include "station/find_sign.h"
#include "cli/journal_record.h"
#include "station/panel_json.h"
#include "station/port_error.h"
#include "station/port_state.h"
#include "station/sign_panels.h"
#include "station/stop_signals.h"
#include "protocol/write_sign.h"
#include "serial/port/port_names.h"

namespace tarvo_cli {

namespace {

// The window's frame order: each row from the bottom up, first half first.
constexpr uint8_t kFrameOrder[] = {0, 8, 1, 9, 2, 10, 3, 11, 4, 12};

struct PanelWrite {
  station::PanelRequest request;
  std::optional<sign_link::PanelRecord> record;  // what the panel should hold
  bool toSend = false;
  bool sent = false;    // its frame went on the line
  std::string skipped;  // why the frame was not sent
  bool acknowledged = false;
  bool verified = false;  // the read-back holds the record
};

struct WriteRun {
  station::SignPanels before;
  std::vector<PanelWrite> panels;
  std::optional<station::SignPanels> after;
  bool verified() const {
    return after && std::all_of(panels.begin(), panels.end(),
                                [](const PanelWrite& p) { return p.verified; });
  }
};

std::vector<station::PanelRequest> InFrameOrder(std::vector<station::PanelRequest> requests) {
  const auto rank = [](const station::PanelRequest& r) {
    return std::find(std::begin(kFrameOrder), std::end(kFrameOrder), r.address) -
           std::begin(kFrameOrder);
  };
  std::sort(requests.begin(), requests.end(),
            [&rank](const auto& a, const auto& b) { return rank(a) < rank(b); });
  return requests;
}

// What to send for one request, from what the sign held before.
void Plan(PanelWrite& write, const station::SignPanels& before, bool onlyChanges) {
  const auto held = before.find(write.request.address);
  const bool known = held != before.end() && held->second;
  if (!known && !station::Complete(write.request)) {
    write.skipped = station::Tr("the sign did not tell what it holds; give PRICE:GRADE:INSCRIPTION");
    return;
  }
  write.record = station::Merged(known ? *held->second : sign_link::PanelRecord{}, write.request);
  // A field kept from the sign may hold what no frame can carry.
  if (const auto fault = sign_link::RecordFault(write.request.address, *write.record)) {
    write.skipped =
        station::Format("cannot be sent: %s; give PRICE:GRADE:INSCRIPTION", {*fault});
    return;
  }
  write.toSend = !(onlyChanges && known && *write.record == *held->second);
  if (!write.toSend) write.skipped = station::Tr("the sign holds it already");
}

nlohmann::json PanelsJsonOf(const WriteRun& run) {
  nlohmann::json list = nlohmann::json::array();
  for (const PanelWrite& write : run.panels) {
    const uint8_t address = write.request.address;
    nlohmann::json entry = {{"address", address},
                            {"row", station::EntryRowOf(address)},
                            {"half", station::HalfOf(address)},
                            {"asked", write.record ? station::PanelJson(address, write.record) : nullptr},
                            {"sent", write.sent},
                            {"acknowledged", write.acknowledged},
                            {"verified", write.verified}};
    if (!write.skipped.empty()) entry["skipped"] = write.skipped;
    if (run.after) entry["after"] = station::PanelJson(address, run.after->at(address));
    list.push_back(entry);
  }
  return list;
}

// Sends the frames until a stop signal refuses the next one.
void SendFrames(WriteRun& run, station::SignLine& line) {
  for (PanelWrite& write : run.panels) {
    if (!write.toSend) continue;
    const int sendsBefore = line.Sends();
    try {
      write.acknowledged = sign_exchange::WritePanel(line.Port(), write.request.address,
                                                     *write.record, line.Context())
                               .acknowledged;
    } catch (const station::SendingStopped&) {
      write.sent = line.Sends() > sendsBefore;
      return;
    }
    write.sent = true;
  }
}

// A sign that cannot be read first is sent nothing.
void Run(WriteRun& run, station::SignLine& line, const std::string& where, bool onlyChanges,
         CommandJournal& journal) {
  // A stop signal refuses every send from here, a second one the read-back too.
  line.StopSendingAfter(0);
  try {
    run.before = station::ReadPanels(line, where);
    for (PanelWrite& write : run.panels) Plan(write, run.before, onlyChanges);
    journal.RecordIntent({{"panels", PanelsJsonOf(run)}});
    SendFrames(run, line);
  } catch (const station::SendingStopped&) {
    // stopped before the first frame: nothing to read back
  }
  if (std::none_of(run.panels.begin(), run.panels.end(), [](const auto& p) { return p.sent; }) &&
      station::FirstStopSignal() != 0)
    return;
  line.StopSendingAfter(1);
  try {
    run.after = station::ReadPanels(line, where);
  } catch (const station::SendingStopped&) {
    return;
  }
  for (PanelWrite& write : run.panels) {
    const auto& now = run.after->at(write.request.address);
    write.verified = write.record && now && *now == *write.record;
  }
}

// "stopped by SIGTERM: reached the sign and verified: panel 0, 8; sent, not
// verified: panel 1; not sent: panel 9".
std::string StoppedText(const WriteRun& run, int signal) {
  std::string verified, unverified, unsent;
  for (const PanelWrite& write : run.panels) {
    if (!write.toSend) continue;
    std::string& list = write.verified ? verified : write.sent ? unverified : unsent;
    list += (list.empty() ? "" : ", ") + std::to_string(write.request.address);
  }
  const std::string name = signal == SIGINT ? "SIGINT" : "SIGTERM";
  if (verified.empty() && unverified.empty())
    return station::Format("stopped by %s before any frame was sent; the sign is unchanged", {name});
  std::string text = station::Format(
      "stopped by %s: reached the sign and verified: %s", {name, verified.empty()
                                                                    ? station::Tr("none")
                                                                    : station::Format("panel %s", {verified})});
  if (!unverified.empty()) text += station::Format("; sent, not verified: panel %s", {unverified});
  if (!unsent.empty()) text += station::Format("; not sent: panel %s", {unsent});
  return text;
}

void PrintRun(std::ostream& out, const WriteRun& run) {
  out << station::Tr("panel  row  half  asked              acknowledged  verified") << '\n';
  for (const PanelWrite& write : run.panels) {
    const uint8_t address = write.request.address;
    char lead[32];
    std::snprintf(lead, sizeof lead, "%5d  %3d  %4d  ", address, station::EntryRowOf(address),
                  station::HalfOf(address));
    const std::string yes = station::Tr("yes");
    const std::string no = station::Tr("no");
    out << lead << (write.record ? station::RecordText(*write.record) : station::Tr("(unknown)    ")) << "      "
        << station::PadRight(write.acknowledged ? yes : no, 14) << (write.verified ? yes : no)
        << (write.skipped.empty() ? "" : "  " + write.skipped) << '\n';
  }
  out << (run.verified() ? station::Tr("verified") : station::Tr("NOT verified")) << '\n';
}

}  // namespace

station::ExitStatus RunWrite(const Options& options, Console& console) {
  // Bad input is refused before the port is opened, a journal that cannot
  // be written before anything is sent.
  const bool fromFile = options.file.has_value();
  WriteRun run;
  for (const station::PanelRequest& request :
       InFrameOrder(fromFile ? station::ReadPanelFile(*options.file) : station::ParseSpecs(options.specs))) {
    PanelWrite write;
    write.request = request;
    run.panels.push_back(write);
  }
  CommandJournal journal(options, "write");
  station::CatchStopSignals();

  station::Tracer tracer(console.err);
  station::Tracer* trace = options.trace ? &tracer : nullptr;
  const std::string name = station::ChosenPort(options.port, options.timeoutMs, trace);
  const std::string device = DeviceForPort(name).value_or("");
  journal.SetPort(name);
  std::optional<station::CliFailure> failed;  // the port's, or a sign that did not answer
  try {
    station::SignLine line(name, options.timeoutMs, trace);
    try {
      Run(run, line, station::PortLabel(name, device), fromFile, journal);
    } catch (const EComPort& error) {
      failed = station::PortFailure(error, name);
    } catch (const station::CliFailure& unanswered) {
      failed = unanswered;
    }
  } catch (const EComPort& error) {
    throw station::PortFailure(error, name);  // never opened: nothing to record
  }

  const int stopSignal = station::FirstStopSignal();
  const station::ExitStatus status = stopSignal == SIGINT    ? station::ExitStatus::kInterrupted
                            : stopSignal == SIGTERM ? station::ExitStatus::kTerminated
                            : failed           ? failed->Status()
                            : run.verified()        ? station::ExitStatus::kDone
                                                    : station::ExitStatus::kNotConfirmed;
  std::string failure = failed ? failed->what() : std::string();
  if (stopSignal != 0) {
    failure = station::PortLabel(name, device) + ": " + StoppedText(run, stopSignal) +
              (failed ? station::Format("; then %s", {failure}) : std::string());
  } else if (!failed && status == station::ExitStatus::kNotConfirmed) {
    failure = station::PortLabel(name, device) + ": " +
              station::Tr("the sign did not confirm every panel; see the panels marked not verified");
  }
  nlohmann::json& record = journal.Outcome();
  record["before"] = station::PanelsJson(run.before);
  record["panels"] = PanelsJsonOf(run);
  record["after"] = run.after ? station::PanelsJson(*run.after) : nullptr;
  record["verified"] = run.verified();
  if (stopSignal != 0) record["signal"] = stopSignal == SIGINT ? "SIGINT" : "SIGTERM";

  if (options.json) {
    nlohmann::json document = {{"port", name},
                               {"device", device},
                               {"panels", record["panels"]},
                               {"verified", run.verified()}};
    if (!failure.empty()) document["error"] = station::ErrorJson(status, failure, name);
    console.out << station::Dump(document) << '\n';
  } else if (!failed) {
    console.out << station::PortLabel(name, device) << '\n';
    PrintRun(console.out, run);
  }
  if (!failure.empty()) console.err << "tarvo-cli: " << failure << '\n';
  return journal.RecordOutcome(status, console.err);
}

}  // namespace tarvo_cli

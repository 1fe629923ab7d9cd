// write: read the sign (the "before"), send the frames of the panels asked
// for, read back and verify; one journal line whatever happens after the
// port was opened.
#include <algorithm>

#include "cli/commands.h"
#include "cli/find_sign.h"
#include "cli/journal_record.h"
#include "station/panel_json.h"
#include "cli/port_error.h"
#include "station/port_state.h"
#include "cli/sign_panels.h"
#include "protocol/write_sign.h"
#include "serial/port/port_names.h"

namespace tarvo_cli {

namespace {

// The window's frame order: each row from the bottom up, first half first.
constexpr uint8_t kFrameOrder[] = {0, 8, 1, 9, 2, 10, 3, 11, 4, 12};

struct PanelWrite {
  station::PanelRequest request;
  std::optional<sign_link::PanelRecord> record;  // what the panel should hold
  bool sent = false;
  std::string skipped;  // why the frame was not sent
  bool acknowledged = false;
  bool verified = false;  // the read-back holds the record
};

struct WriteRun {
  SignPanels before;
  std::vector<PanelWrite> panels;
  std::optional<SignPanels> after;
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
void Plan(PanelWrite& write, const SignPanels& before, bool onlyChanges) {
  const auto held = before.find(write.request.address);
  const bool known = held != before.end() && held->second;
  if (!known && !station::Complete(write.request)) {
    write.skipped = "the sign did not tell what it holds; give PRICE:GRADE:INSCRIPTION";
    return;
  }
  write.record = station::Merged(known ? *held->second : sign_link::PanelRecord{}, write.request);
  // A field kept from the sign may hold what no frame can carry.
  if (const auto fault = sign_link::RecordFault(write.request.address, *write.record)) {
    write.skipped = "cannot be sent: " + *fault + "; give PRICE:GRADE:INSCRIPTION";
    return;
  }
  write.sent = !(onlyChanges && known && *write.record == *held->second);
  if (!write.sent) write.skipped = "the sign holds it already";
}

// A sign that cannot be read first is sent nothing.
void Run(WriteRun& run, SignLine& line, const std::string& where, bool onlyChanges) {
  run.before = ReadPanels(line, where);
  for (PanelWrite& write : run.panels) {
    Plan(write, run.before, onlyChanges);
    if (!write.sent) continue;
    write.acknowledged =
        sign_exchange::WritePanel(line.Port(), write.request.address, *write.record, line.Context())
            .acknowledged;
  }
  run.after = ReadPanels(line, where);
  for (PanelWrite& write : run.panels) {
    const auto& now = run.after->at(write.request.address);
    write.verified = write.record && now && *now == *write.record;
  }
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

void PrintRun(std::ostream& out, const WriteRun& run) {
  out << "panel  row  half  asked              acknowledged  verified\n";
  for (const PanelWrite& write : run.panels) {
    const uint8_t address = write.request.address;
    char lead[32];
    std::snprintf(lead, sizeof lead, "%5d  %3d  %4d  ", address, station::EntryRowOf(address),
                  station::HalfOf(address));
    char results[32];
    std::snprintf(results, sizeof results, "%-12s  %s", write.acknowledged ? "yes" : "no",
                  write.verified ? "yes" : "no");
    out << lead << (write.record ? RecordText(*write.record) : std::string("(unknown)    "))
        << "      " << results << (write.skipped.empty() ? "" : "  " + write.skipped) << '\n';
  }
  out << (run.verified() ? "verified" : "NOT verified") << '\n';
}

}  // namespace

ExitStatus RunWrite(const Options& options, Console& console) {
  // Bad input is refused before the port is opened.
  const bool fromFile = options.file.has_value();
  WriteRun run;
  for (const station::PanelRequest& request :
       InFrameOrder(fromFile ? station::ReadPanelFile(*options.file) : station::ParseSpecs(options.specs))) {
    PanelWrite write;
    write.request = request;
    run.panels.push_back(write);
  }

  Tracer tracer(console.err);
  Tracer* trace = options.trace ? &tracer : nullptr;
  const std::string name = ChosenPort(options, trace);
  const std::string device = DeviceForPort(name).value_or("");
  nlohmann::json record = JournalRecord("write", name);
  std::optional<CliFailure> failure;  // the port's, or a sign that did not answer
  try {
    SignLine line(name, options, trace);
    try {
      Run(run, line, station::PortLabel(name, device), fromFile);
    } catch (const EComPort& error) {
      failure = PortFailure(error, name);
    } catch (const CliFailure& unanswered) {
      failure = unanswered;
    }
  } catch (const EComPort& error) {
    throw PortFailure(error, name);  // never opened: nothing to record
  }

  const ExitStatus status = failure          ? failure->Status()
                            : run.verified() ? ExitStatus::kDone
                                             : ExitStatus::kNotConfirmed;
  record["before"] = PanelsJson(run.before);
  record["panels"] = PanelsJsonOf(run);
  record["after"] = run.after ? PanelsJson(*run.after) : nullptr;
  record["verified"] = run.verified();
  record["exit"] = static_cast<int>(status);

  if (options.json) {
    console.out << station::Dump({{"port", name},
                         {"device", device},
                         {"panels", record["panels"]},
                         {"verified", run.verified()}})
                << '\n';
  } else if (!failure) {
    console.out << station::PortLabel(name, device) << '\n';
    PrintRun(console.out, run);
  }
  if (failure) console.err << "tarvo-cli: " << failure->what() << '\n';
  Record(options, record);
  if (!failure && status == ExitStatus::kNotConfirmed)
    console.err << "tarvo-cli: " << station::PortLabel(name, device)
                << ": the sign did not confirm every panel; see the panels marked not verified\n";
  return status;
}

}  // namespace tarvo_cli

// The verbs through tarvo-agent: read, write and brightness become requests
// to the agent when one answers (unless --direct), and status, schedule and
// history exist only with an agent.
#include <chrono>
#include <cstdio>
#include <fstream>

#include "cli/agent_client.h"
#include "cli/commands.h"
#include "cli/history_text.h"
#include "station/sign_panels.h"
#include "station/human_time.h"
#include "station/panel_json.h"
#include "station/port_state.h"
#include "station/quoted.h"
#include "station/text.h"
#include "station/utc_instant.h"

namespace tarvo_cli {

namespace {

using nlohmann::json;

AgentClient NeedAgent() {
  std::optional<AgentClient> client = AgentClient::Connect();
  if (!client)
    throw station::CliFailure(station::ExitStatus::kPortError,
                     station::Format("no agent answers at %s; start it with systemctl enable --now tarvo-agent",
                                     {AgentSocketPath()}));
  return std::move(*client);
}

// A refused request is bad input (nothing changed); any other error the agent's.
json Checked(const json& reply) {
  if (reply.value("ok", false)) return reply;
  const std::string error = reply.value("error", station::Tr("the agent refused the request"));
  throw station::CliFailure(error.rfind("bad ", 0) == 0 ? station::ExitStatus::kBadUsage : station::ExitStatus::kPortError, error);
}

station::SignPanels PanelsOf(const json& list) {
  station::SignPanels panels;
  for (const json& panel : list) {
    const auto address = panel.at("address").get<uint8_t>();
    panels[address] = std::nullopt;
    if (!panel.value("ok", false)) continue;
    const auto requests = station::ParsePanelFile(station::Dump({{"panels", json::array({panel})}}));
    // A grade the document leaves null is one the sign holds outside the list: "0".
    panels[address] = station::Merged({"0000", '0', '0'}, requests.at(0));
  }
  return panels;
}

std::string Text(const json& value) {
  return value.is_null() ? "-" : value.is_string() ? value.get<std::string>() : value.dump();
}

std::string PanelText(const json& panel) {
  if (!panel.is_object() || !panel.value("ok", false)) return station::Tr("(unknown)");
  return Text(panel["price"]) + " " + Text(panel["grade"]) + " " + Text(panel["inscription"]);
}

void PrintChanges(std::ostream& out, const json& changes) {
  out << station::Tr("id            rev  effective at              issuer    changes") << '\n';
  for (const json& change : changes) {
    std::string what;
    for (const json& panel : change["panels"])
      what += "panel" + std::to_string(panel["address"].get<int>()) + "=" + Text(panel["price"]) + ":" +
              Text(panel["grade"]) + ":" + Text(panel["inscription"]) + " ";
    if (!change["brightness"].is_null()) what += "brightness=" + Text(change["brightness"]);
    char line[160];
    std::snprintf(line, sizeof line, "%-12s  %3s  %-24s  %-8s  ", Text(change["id"]).c_str(),
                  Text(change["rev"]).c_str(), Text(change["effective_at"]).c_str(),
                  Text(change["issuer"]).c_str());
    out << line << what << '\n';
  }
}

std::optional<int64_t> At(const Options& options) {
  if (!options.at) return std::nullopt;
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  const std::optional<int64_t> at = station::ParseWhen(*options.at, now);
  if (!at)
    throw station::CliFailure(station::ExitStatus::kBadUsage,
                     station::Format("bad --at %s: give 06:00, tomorrow 06:00, 2026-12-10 06:00 (local time) "
                                     "or 2026-12-09T06:00:00+03:00",
                                     {station::Quoted(*options.at)}));
  return at;
}

// Another pending change with the same time, panels and brightness as the one
// just scheduled: both would be applied, which is rarely what was meant.
void WarnOfTwin(const json& scheduled, Console& console, AgentClient& agent) {
  const json pending = agent.Ask({{"op", "schedule"}}).value("pending", json::array());
  const json* mine = nullptr;
  for (const json& change : pending)
    if (change.value("id", json()) == scheduled["id"]) mine = &change;
  if (!mine) return;
  for (const json& change : pending) {
    if (&change == mine || change["effective_at"] != (*mine)["effective_at"] ||
        change["panels"] != (*mine)["panels"] || change["brightness"] != (*mine)["brightness"])
      continue;
    console.err << "tarvo-cli: "
                << station::Format("warning: change %s is the same as change %s, scheduled already; "
                                   "tarvo-cli schedule cancel %s takes the new one back",
                                   {Text(scheduled["id"]), Text(change["id"]), Text(scheduled["id"])})
                << '\n';
    return;
  }
}

json WriteRequest(const Options& options, std::optional<int64_t> at) {
  json request = {{"op", "write"}};
  if (options.command == Command::kBrightness) {
    request["brightness"] = options.level;
  } else if (options.file) {
    station::ReadPanelFile(*options.file);  // refused here, before the agent hears of it
    std::ifstream file(*options.file, std::ios::binary);
    request["panels"] = json::parse(file)["panels"];
  } else {
    request["specs"] = options.specs;
  }
  if (at) request["effective_at"] = station::FormatInstant(*at);
  return request;
}

station::ExitStatus WriteThroughAgent(const Options& options, std::optional<int64_t> at, Console& console,
                             AgentClient& agent) {
  const json request = WriteRequest(options, at);
  // The instant a person's "06:00" became, before anything is scheduled.
  if (at && !options.json) console.out << station::Format("at %s", {station::LocalInstant(*at)}) << '\n';
  const json reply = Checked(agent.Ask(request));
  if (options.json) console.out << station::Dump(reply) << '\n';
  if (reply.value("scheduled", false)) {
    if (!options.json)
      console.out << station::Format("scheduled: change %s at %s", {Text(reply["id"]), Text(reply["effective_at"])})
                  << '\n';
    WarnOfTwin(reply, console, agent);
    return station::ExitStatus::kDone;
  }
  const bool verified = reply.value("verified", false);
  if (reply.contains("superseded_by")) {
    console.err << "tarvo-cli: "
                << station::Format("change %s was superseded by change %s before the sign confirmed it",
                                   {Text(reply["id"]), Text(reply["superseded_by"])})
                << '\n';
    return station::ExitStatus::kNotConfirmed;
  }
  if (!options.json) {
    console.out << station::Format("change %s, rev %s, %s",
                                   {Text(reply["id"]), reply["rev"].dump(),
                                    station::PortLabel(Text(reply["port"]), Text(reply["device"]))})
                << '\n';
    if (!reply["panels"].empty())
      console.out << station::Tr("panel  row  half  asked              sent  verified") << '\n';
    const std::string yes = station::Tr("yes");
    const std::string no = station::Tr("no");
    for (const json& panel : reply["panels"]) {
      char line[160];
      std::snprintf(line, sizeof line, "%5d  %3d  %4d  ", panel["address"].get<int>(), panel["row"].get<int>(),
                    panel["half"].get<int>());
      console.out << line << station::PadRight(PanelText(panel["asked"]), 19)
                  << station::PadRight(panel.value("sent", false) ? yes : no, 6)
                  << (panel.value("verified", false) ? yes : no) << '\n';
    }
    if (reply.contains("brightness")) {
      const std::string level = Text(reply["brightness"]["level"]);
      console.out << (reply["brightness"].value("verified", false)
                          ? station::Format("brightness %s echoed", {level})
                          : station::Format("brightness %s NOT echoed", {level}))
                  << '\n';
    }
    console.out << (verified ? station::Tr("verified") : station::Tr("NOT verified")) << '\n';
  }
  if (verified) return station::ExitStatus::kDone;
  if (reply.contains("problem")) {
    console.err << "tarvo-cli: "
                << station::Format("%s; the agent keeps rev %s and tries again",
                                   {Text(reply["problem"]), reply["rev"].dump()})
                << '\n';
    return station::ExitStatus::kPortError;
  }
  console.err << "tarvo-cli: "
              << station::Format("the sign did not confirm every panel; the agent keeps rev %s and verifies it again",
                                 {reply["rev"].dump()})
              << '\n';
  return station::ExitStatus::kNotConfirmed;
}

station::ExitStatus ReadThroughAgent(const Options& options, Console& console, AgentClient& agent) {
  const json reply = Checked(agent.Ask({{"op", "read"}}));
  const station::SignPanels panels = PanelsOf(reply["panels"]);
  if (options.json) {
    console.out << station::Dump(reply) << '\n';
  } else {
    console.out << station::PortLabel(Text(reply["port"]), Text(reply["device"])) << '\n';
    station::PrintPanels(console.out, panels);
  }
  for (const auto& [address, record] : panels) {
    if (record) continue;
    console.err << "tarvo-cli: " << station::Tr("no proper answer from every panel; check the sign's cable and power")
                << '\n';
    return station::ExitStatus::kNotConfirmed;
  }
  return station::ExitStatus::kDone;
}

}  // namespace

std::optional<station::ExitStatus> RunThroughAgent(const Options& options, Console& console) {
  if (options.direct) return std::nullopt;
  const std::optional<int64_t> at = At(options);  // bad input before the agent is asked
  std::optional<AgentClient> agent = AgentClient::Connect();
  if (!agent) {
    if (options.at)
      throw station::CliFailure(station::ExitStatus::kPortError,
                       station::Format("--at needs the agent, and none answers at %s", {AgentSocketPath()}));
    return std::nullopt;
  }
  // A script that names a port means that sign: the agent may keep another.
  if (options.port) {
    const json status = Checked(agent->Ask({{"op", "status"}}));
    if (status["port"] != *options.port && status["port_in_use"] != *options.port)
      throw station::CliFailure(station::ExitStatus::kBadUsage,
                       station::Format("--port %s: the agent keeps the sign on %s; leave --port out, or use --direct "
                                       "to use %s itself",
                                       {station::Quoted(*options.port), Text(status["port_in_use"]),
                                        station::Quoted(*options.port)}));
  }
  if (options.command == Command::kRead) return ReadThroughAgent(options, console, *agent);
  return WriteThroughAgent(options, at, console, *agent);
}

station::ExitStatus RunStatus(const Options& options, Console& console) {
  AgentClient agent = NeedAgent();
  const json status = Checked(agent.Ask({{"op", "status"}}));
  if (options.json) {
    console.out << station::Dump(status) << '\n';
    return station::ExitStatus::kDone;
  }
  const json& verification = status["last_verification"];
  const std::string rev = status["rev"].dump();
  const json& problem = status["last_problem"];
  // Each line is one text: a language aligns its own labels.
  console.out << station::Format("station            %s", {Text(status["station"])}) << '\n'
              << station::Format("port               %s (%s)",
                                 {Text(status["port_in_use"]), Text(status["port_state"])})
              << '\n'
              << (status["verified_rev"] == status["rev"]
                      ? station::Format("revision           %s (verified)", {rev})
                      : station::Format("revision           %s (being applied)", {rev}))
              << '\n'
              << station::Format("brightness         %s", {Text(status["brightness"])}) << '\n'
              << station::Format("pending changes    %s", {std::to_string(status["pending"].size())}) << '\n'
              << station::Format("last verification  %s",
                                 {!verification.is_object()              ? std::string("-")
                                  : verification.value("ok", false) ? station::Format("%s ok", {Text(verification["at"])})
                                                                    : station::Format("%s drift", {Text(verification["at"])})})
              << '\n'
              << station::Format("drift found        %s panels", {status["drift_count"].dump()}) << '\n'
              << station::Format("last problem       %s",
                                 {problem.is_object() ? Text(problem["at"]) + " " + Text(problem["problem"])
                                                      : std::string("-")})
              << '\n';
  if (!status["panels"].empty()) station::PrintPanels(console.out, PanelsOf(status["panels"]));
  return station::ExitStatus::kDone;
}

station::ExitStatus RunSchedule(const Options& options, Console& console) {
  AgentClient agent = NeedAgent();
  const json reply = Checked(agent.Ask(options.cancelId ? json{{"op", "cancel"}, {"id", *options.cancelId}}
                                                        : json{{"op", "schedule"}}));
  if (options.json) {
    console.out << station::Dump(reply) << '\n';
  } else if (options.cancelId) {
    console.out << station::Format("cancelled: change %s", {Text(reply["id"])}) << '\n';
  } else {
    PrintChanges(console.out, reply["pending"]);
  }
  return station::ExitStatus::kDone;
}

station::ExitStatus RunHistory(const Options& options, Console& console) {
  json request = {{"op", "history"}};
  if (options.since) {
    const std::optional<int64_t> since = station::ParseInstant(*options.since);
    if (!since)
      throw station::CliFailure(station::ExitStatus::kBadUsage, station::Format("bad --since %s: give a time such as 2026-12-08T00:00:00Z",
                                                              {station::Quoted(*options.since)}));
    request["since"] = station::FormatInstant(*since);
  }
  AgentClient agent = NeedAgent();
  const json reply = Checked(agent.Ask(request));
  if (options.json) {
    console.out << station::Dump(reply) << '\n';
    return station::ExitStatus::kDone;
  }
  PrintHistory(console.out, reply["events"]);
  return station::ExitStatus::kDone;
}

}  // namespace tarvo_cli

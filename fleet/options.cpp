#include "fleet/options.h"

#include <CLI/CLI.hpp>

#include "fleet_push/failure.h"
#include "station/command_line.h"

namespace tarvo_fleet {

namespace {

constexpr const char* kFooter = R"(
Broker options (anywhere on the line, or the same keys in $XDG_CONFIG_HOME/tarvo/fleet.toml:
broker, username, password_file, ca_file, cert_file, key_file).

Exit status:
  0  done: every station confirmed
  1  some station did not confirm in time, or is offline (each is listed)
  2  bad usage or input; nothing was published
  3  the broker could not be reached, or it refused us (credentials, TLS)

Examples:
  tarvo-fleet status --broker mqtts://broker.example:8883 --username head-office --password-file ~/.fleet-password
  tarvo-fleet push --station S1 --station S2 row1=45.60:95 row2=52.10:ДТ
  tarvo-fleet push --all row1=45.90 --at 2026-12-09T06:00:00+03:00
  tarvo-fleet push --new --station S9 row1=45.60:95
  tarvo-fleet cancel 5f2a9e41-d3b7-4c08-9a61-0e2f7b3c1d55
  tarvo-fleet forget S9)";

[[noreturn]] void BadInput(const std::string& what) {
  throw FleetFailure(ExitStatus::kBadInput, what + "; see tarvo-fleet --help");
}

}  // namespace

std::optional<Options> ParseCommandLine(int argc, const char* const* argv, std::ostream& out) {
  Options options;
  CLI::App app("The head office's view of the TARVO sign fleet, over MQTT.", "tarvo-fleet");
  app.set_version_flag("--version", std::string("tarvo-fleet ") + TARVO_VERSION);
  app.footer(kFooter);
  app.require_subcommand(1, 1);
  app.fallthrough();
  app.add_flag("--json", options.json, "one JSON document on stdout");
  BrokerOptions& broker = options.broker;
  app.add_option("--broker", broker.broker, "mqtt://HOST[:1883] or mqtts://HOST[:8883]");
  app.add_option("--username", broker.username, "the head office's user on the broker");
  app.add_option("--password-file", broker.passwordFile, "a file whose first line is the password");
  app.add_option("--ca-file", broker.caFile, "the CA that signed the broker's certificate");
  app.add_option("--cert-file", broker.certFile, "a client certificate, with --key-file");
  app.add_option("--key-file", broker.keyFile, "the client certificate's key");

  app.add_subcommand("status", "every station seen: online or lost, revisions, state, drift")
      ->callback([&options] { options.command = Command::kStatus; });

  // push and cancel name their stations alike.
  const auto addStations = [&options](CLI::App* verb, const char* allHelp) {
    // One id per --station, so that the SPECs after it stay SPECs.
    auto* stations = verb->add_option("--station", options.stations, "a station id (repeat for more)")
                         ->allow_extra_args(false);
    auto* all = verb->add_flag("--all", options.all, allHelp);
    auto* file =
        verb->add_option("--stations", options.stationsFile, "a file of station ids, one a line");
    stations->excludes(all, file);
    all->excludes(file);
    verb->add_option("--timeout", options.timeoutS,
                     "how long to wait for confirmations, in s (default 60)")
        ->check(CLI::Range(1, 86400));
  };
  CLI::App* push = app.add_subcommand(
      "push", "publish the stations' next revision and wait until each reports it verified");
  addStations(push, "every station seen on the broker");
  push->add_option("SPEC", options.specs,
                   "rowR=PRICE[:GRADE[:INSCRIPTION]] (R 1..5, both halves) or panelA=... (A 0..4, "
                   "8..12), as tarvo-cli write takes them")
      ->required();
  push->add_option("--at", options.at,
                   "when the change takes effect: 06:00 (the next, local time), tomorrow 06:00, "
                   "2026-12-10 06:00 or RFC 3339; default now");
  push->add_flag("--new", options.isNew,
                 "the stations may be new: never seen on the broker (else refused as mistyped)");
  push->callback([&options] { options.command = Command::kPush; });

  CLI::App* cancel = app.add_subcommand(
      "cancel", "withdraw a scheduled change before its time and wait until each station took that");
  cancel->add_option("CHANGE_ID", options.cancels, "the change id tarvo-fleet push printed")->required();
  addStations(cancel, "every station seen on the broker (default: every station whose plan holds it)");
  cancel->callback([&options] { options.command = Command::kCancel; });

  CLI::App* events = app.add_subcommand(
      "events", "the stations' events since this cursor's last call (the broker keeps them)");
  events->add_option("--station", options.station, "one station's events only");
  events->add_flag("--follow", options.follow, "keep printing events as they come");
  events->add_option("--cursor", options.cursorFile,
                     "the file that keeps this reader's position (default "
                     "$XDG_STATE_HOME/tarvo/fleet-events.cursor)");
  events->callback([&options] { options.command = Command::kEvents; });

  CLI::App* forget = app.add_subcommand(
      "forget", "clear a station's retained documents (desired, reported, status) on the broker");
  forget->add_option("STATION", options.station, "the station's id")->required();
  forget->callback([&options] { options.command = Command::kForget; });

  try {
    if (!station::ParseOrAnswer(app, argc, argv, out)) return std::nullopt;
  } catch (const CLI::ParseError& error) {
    BadInput(error.what());
  }
  if (options.command == Command::kPush && options.stations.empty() && !options.all &&
      !options.stationsFile)
    BadInput("push needs --station ID, --all or --stations FILE");
  return options;
}

}  // namespace tarvo_fleet

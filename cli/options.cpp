#include "cli/options.h"

#include <CLI/CLI.hpp>

#include "cli/failure.h"
#include "station/command_line.h"

namespace tarvo_cli {

namespace {

constexpr const char* kFooter = R"(
Exit status:
  0  done, and every written panel verified
  1  the sign did not confirm: a panel unverified, a wrong or missing echo, no sign found
  2  bad usage or input; nothing was sent to the sign
  3  a port error (no device, busy, no access, not a terminal, unplugged, I/O error),
     or the journal could not be written, or no agent answers (status, schedule, history)

With tarvo-agent running (socket $TARVO_AGENT_SOCKET, else /run/tarvo/agent.sock),
read, write and brightness go through it; --direct talks to the port itself.

Examples:
  tarvo-cli ports
  tarvo-cli write --port COM3 row1=45.60:95 row2=52.10:ДТ:1 panel8=-
  tarvo-cli read --json > sign.json && tarvo-cli write --file sign.json
  tarvo-cli write row1=56.90:95 --at 2026-12-09T06:00:00+03:00)";

}  // namespace

std::optional<Options> ParseCommandLine(int argc, const char* const* argv, std::ostream& out) {
  Options options;
  CLI::App app("The TARVO Z408 fuel-price sign from scripts.", "tarvo-cli");
  app.set_version_flag("--version", std::string("tarvo-cli ") + TARVO_VERSION);
  app.footer(kFooter);
  app.require_subcommand(1, 1);
  // Options anywhere: before or after the verb.
  app.fallthrough();
  app.add_flag("--json", options.json, "one JSON document on stdout");
  app.add_flag("--trace", options.trace, "every message sent and received on stderr");
  app.add_option("--timeout", options.timeoutMs, "the wait for one answer, in ms (default 100)")
      ->check(CLI::Range(1, 60000));
  auto* journal = app.add_option("--journal", options.journalFile, "the journal file to append to");
  app.add_flag("--no-journal", options.noJournal, "keep no journal")->excludes(journal);

  const auto withPort = [&options](CLI::App* verb) {
    verb->add_option("--port", options.port, "COM3 or a device under /dev/ (default: find it)");
    verb->add_flag("--direct", options.direct, "talk to the port even when tarvo-agent runs");
    return verb;
  };
  app.add_subcommand("ports", "the serial ports and whether each is free")->callback([&options] {
    options.command = Command::kPorts;
  });
  app.add_subcommand("find", "probe every port at once and name where the sign answers")
      ->callback([&options] { options.command = Command::kFind; });
  withPort(app.add_subcommand("read", "read all ten panels"))->callback([&options] {
    options.command = Command::kRead;
  });
  CLI::App* write =
      withPort(app.add_subcommand("write", "write panels, read them back and verify"));
  auto* specs = write->add_option("SPEC", options.specs,
                                  "rowR=PRICE[:GRADE[:INSCRIPTION]] (R 1..5, both halves) or "
                                  "panelA=... (A 0..4, 8..12); PRICE 45.60 or -, GRADE 80 92 95 "
                                  "98 ДТ, INSCRIPTION 0..3");
  write->add_option("--file", options.file, "the JSON that read --json prints, edited")
      ->excludes(specs);
  write->add_option("--at", options.at, "let tarvo-agent apply it at TIME (RFC 3339)");
  write->callback([&options] { options.command = Command::kWrite; });
  CLI::App* brightness =
      withPort(app.add_subcommand("brightness", "automatic brightness, or a level 0..9"));
  brightness->add_option("LEVEL", options.level, "auto or 0..9")->required();
  brightness->add_option("--at", options.at, "let tarvo-agent apply it at TIME (RFC 3339)");
  brightness->callback([&options] { options.command = Command::kBrightness; });
  app.add_subcommand("journal", "the journal of writes and brightness changes, newest last")
      ->callback([&options] { options.command = Command::kJournal; });
  app.add_subcommand("status", "tarvo-agent: its revision, port, pending changes, last verification")
      ->callback([&options] { options.command = Command::kStatus; });
  CLI::App* schedule = app.add_subcommand("schedule", "tarvo-agent: the pending changes");
  schedule->callback([&options] { options.command = Command::kSchedule; });
  schedule->add_subcommand("cancel", "cancel a pending change")
      ->add_option("ID", options.cancelId, "the change's id, as schedule lists it")
      ->required();
  CLI::App* history = app.add_subcommand("history", "tarvo-agent: its events, oldest first");
  history->add_option("--since", options.since, "only events from TIME (RFC 3339)");
  history->callback([&options] { options.command = Command::kHistory; });

  try {
    if (!station::ParseOrAnswer(app, argc, argv, out)) return std::nullopt;
  } catch (const CLI::ParseError& error) {
    throw CliFailure(ExitStatus::kBadUsage, std::string(error.what()) + "; see tarvo-cli --help");
  }
  if (options.command == Command::kWrite && options.specs.empty() && !options.file)
    throw CliFailure(ExitStatus::kBadUsage,
                     "write needs SPEC... or --file FILE; see tarvo-cli --help");
  return options;
}

}  // namespace tarvo_cli

#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <charconv>

#include "station/failure.h"
#include "station/command_line.h"
#include "station/port_name.h"
#include "station/quoted.h"
#include "station/text.h"

namespace tarvo_cli {

namespace {

// The help's own words; the footers keep their layout in every language.
constexpr const char* kFooter = N_(R"(
Exit status:
  0    done, and every written panel verified
  1    the sign did not confirm: a panel unverified, a wrong or missing echo, no sign answered
  2    bad usage or input; nothing was sent to the sign
  3    a port error (no device, busy, no access, not a terminal, unplugged, I/O error; also
       when no port could be opened), or the journal cannot be written: nothing was changed
  4    done on the sign, but its journal record could not be written, or a command that
       changes nothing could not write its output
  130  write stopped by SIGINT, 143 by SIGTERM: the frame on the line was finished, no other
       sent; what reached the sign is read back, journalled and said on stderr

Examples:
  tarvo-cli ports
  tarvo-cli write --port COM3 row1=45.60:95 row2=52.10:ДТ:1 panel8=-
  tarvo-cli read --json > sign.json && tarvo-cli write --file sign.json)");

constexpr const char* kAnywhere = N_(R"(
Options anywhere (before or after the command):
  --port NAME    COM3 or a device under /dev/ (read, write, brightness; default: find it)
  --json         one JSON document on stdout
  --trace        every message sent and received on stderr
  --timeout MS   the wait for one answer, in ms (1..60000, default 100)
  --journal FILE the journal file to append to
  --no-journal   keep no journal
  --help, --version)");

// With tarvo-agent.
constexpr const char* kAgentFooter = N_(R"(

With tarvo-agent running (its socket: $TARVO_AGENT_SOCKET, else /run/tarvo/agent.sock),
read, write and brightness go through it (--direct: the port itself), write --at TIME
schedules a change, and status, schedule [cancel ID] and history [--since TIME] ask it;
without an agent these three end with status 3.
  tarvo-cli write row1=56.90:95 --at "tomorrow 06:00")");

constexpr std::array<const char*, 9> kVerbs = {"ports",   "find",   "read",     "write",  "brightness",
                                               "journal", "status", "schedule", "history"};
constexpr std::array<const char*, 6> kValued = {"--port", "--timeout", "--journal", "--file", "--at", "--since"};

[[noreturn]] void BadUsage(const std::string& what) {
  throw station::CliFailure(station::ExitStatus::kBadUsage, what);
}

std::string VerbList() {
  std::string list;
  for (const char* verb : kVerbs) list += (list.empty() ? "" : ", ") + std::string(verb);
  return list;
}

// The first word on the line that is no option nor an option's value.
std::optional<std::string> VerbOf(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.rfind("-", 0) == 0) {
      const bool valued =
          std::find(kValued.begin(), kValued.end(), word) != kValued.end();
      if (valued) ++i;
      continue;
    }
    return word;
  }
  return std::nullopt;
}

// A parser's complaint in the user's terms.
std::string InUserTerms(const CLI::ParseError& error, int argc, const char* const* argv) {
  const std::optional<std::string> verb = VerbOf(argc, argv);
  if (!verb)
    return station::Format("no command given; give one of: %s (see tarvo-cli --help)", {VerbList()});
  if (std::find(kVerbs.begin(), kVerbs.end(), *verb) == kVerbs.end())
    return station::Format("unknown command %s; the commands are %s",
                           {station::Quoted(*verb), VerbList()});
  return station::Format("%s; see tarvo-cli %s --help", {error.what(), *verb});
}

// COMn as the port list names it, or a device path under /dev/.
void CheckPortName(const std::string& port) {
  if (station::IsPortName(port)) return;
  BadUsage(station::Format("bad --port %s: give COMn (COM3: no leading zero) or a device path "
                           "under /dev/ (/dev/ttyUSB0: no \".\" or \"..\" parts)",
                           {station::Quoted(port)}));
}

}  // namespace

std::optional<Options> ParseCommandLine(int argc, const char* const* argv, std::ostream& out) {
  Options options;
  CLI::App app(station::Tr("The TARVO Z408 fuel-price sign from scripts."), "tarvo-cli");
  const auto formatter = app.get_formatter();
  for (const char* label : {N_("Usage"), N_("OPTIONS"), N_("SUBCOMMAND"), N_("Positionals"),
                            N_("REQUIRED"), N_("Excludes"), N_("TEXT")})
    formatter->label(label, station::Tr(label));
  app.option_defaults()->group(station::Tr("Options"));
  app.set_help_flag("-h,--help", station::Tr("print this help and end"));
  app.set_version_flag("--version", std::string("tarvo-cli ") + TARVO_VERSION,
                       station::Tr("print the version and end"));
  app.footer(station::Tr(kFooter) + station::Tr(kAgentFooter));
  app.require_subcommand(1, 1);
  // Options anywhere: before or after the verb.
  app.fallthrough();
  app.add_option("--port", options.port, station::Tr("COM3 or a device under /dev/ (default: find it)"));
  app.add_flag("--json", options.json, station::Tr("one JSON document on stdout"));
  app.add_flag("--trace", options.trace, station::Tr("every message sent and received on stderr"));
  std::string timeout;
  app.add_option("--timeout", timeout,
                 station::Tr("the wait for one answer, in ms (1..60000, default 100)"));
  auto* journal = app.add_option("--journal", options.journalFile,
                                 station::Tr("the journal file to append to"));
  auto* noJournal = app.add_flag("--no-journal", options.noJournal, station::Tr("keep no journal"));
  app.add_flag("--direct", options.direct, station::Tr("read, write, brightness: the port itself, even when tarvo-agent runs"));

  const auto verb = [&app](const char* name, const char* description) {
    CLI::App* command = app.add_subcommand(name, station::Tr(description));
    command->group(station::Tr("Subcommands"));
    command->set_help_flag("-h,--help", station::Tr("print this help and end"));
    command->footer(station::Tr(kAnywhere));
    return command;
  };
  verb("ports", N_("the serial ports and whether each is free"))->callback([&options] {
    options.command = Command::kPorts;
  });
  verb("find", N_("probe every port at once and name where the sign answers"))->callback([&options] {
    options.command = Command::kFind;
  });
  verb("read", N_("read all ten panels"))->callback([&options] { options.command = Command::kRead; });
  CLI::App* write = verb("write", N_("write panels, read them back and verify"));
  auto* specs = write->add_option("SPEC", options.specs,
                                  station::Tr("rowR=PRICE[:GRADE[:INSCRIPTION]] (R 1..5, both "
                                              "halves) or panelA=... (A 0..4, 8..12); PRICE 45.60 "
                                              "or -, GRADE 80 92 95 98 ДТ, INSCRIPTION 0..3"));
  write->add_option("--file", options.file, station::Tr("the JSON that read --json prints, edited"))
      ->excludes(specs);
  write->add_option(
      "--at", options.at,
      station::Tr(
          "let tarvo-agent apply it at TIME: 06:00, tomorrow 06:00, 2026-12-10 06:00 or RFC 3339"));
  write->callback([&options] { options.command = Command::kWrite; });
  CLI::App* brightness = verb("brightness", N_("automatic brightness, or a level 0..9"));
  brightness->add_option("LEVEL", options.level, station::Tr("auto or 0..9"))->required();
  brightness->add_option(
      "--at", options.at,
      station::Tr(
          "let tarvo-agent apply it at TIME: 06:00, tomorrow 06:00, 2026-12-10 06:00 or RFC 3339"));
  brightness->callback([&options] { options.command = Command::kBrightness; });
  verb("journal", N_("the journal of writes and brightness changes, newest last"))
      ->callback([&options] { options.command = Command::kJournal; });
  verb("status", N_("tarvo-agent: its revision, port, pending changes, last verification"))
      ->callback([&options] { options.command = Command::kStatus; });
  CLI::App* schedule = verb("schedule", N_("tarvo-agent: the pending changes"));
  schedule->callback([&options] { options.command = Command::kSchedule; });
  schedule->add_subcommand("cancel", station::Tr("cancel a pending change"))
      ->add_option("ID", options.cancelId, station::Tr("the change's id, as schedule lists it"))
      ->required();
  CLI::App* history = verb("history", N_("tarvo-agent: its events, oldest first"));
  history->add_option("--since", options.since, station::Tr("only events from TIME (RFC 3339)"));
  history->callback([&options] { options.command = Command::kHistory; });

  try {
    if (!station::ParseOrAnswer(app, argc, argv, out)) return std::nullopt;
  } catch (const CLI::ParseError& error) {
    BadUsage(InUserTerms(error, argc, argv));
  }
  if (journal->count() > 0 && noJournal->count() > 0)
    BadUsage(station::Tr("--journal and --no-journal exclude each other"));
  if (!timeout.empty()) {
    int milliseconds = 0;
    const auto [end, failed] =
        std::from_chars(timeout.data(), timeout.data() + timeout.size(), milliseconds);
    if (failed != std::errc() || end != timeout.data() + timeout.size() || timeout[0] == '0' ||
        milliseconds < 1 || milliseconds > 60000)
      BadUsage(station::Format("bad --timeout %s: give the wait for one answer in milliseconds, "
                               "1..60000",
                               {station::Quoted(timeout)}));
    options.timeoutMs = milliseconds;
  }
  const bool talks = options.command == Command::kRead || options.command == Command::kWrite ||
                     options.command == Command::kBrightness;
  if (options.port) {
    if (!talks) BadUsage(station::Tr("--port is for read, write and brightness"));
    CheckPortName(*options.port);
  }
  if (options.direct && !talks) BadUsage(station::Tr("--direct is for read, write and brightness"));
  if (options.command == Command::kWrite && options.specs.empty() && !options.file)
    BadUsage(station::Tr("write needs SPEC... or --file FILE; see tarvo-cli write --help"));
  return options;
}

}  // namespace tarvo_cli

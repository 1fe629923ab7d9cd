// tarvo-fleet events: what the stations recorded since this reader's last
// call, or as they come. The reader's cursor file names its own session on
// the broker (which queues the events for it meanwhile) and the last event
// of each station it printed: readers with cursors of their own never take
// each other's events, and an event sent twice (again after a reconnect) is
// printed once.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "fleet/broker_session.h"
#include "fleet_push/random_id.h"
#include "fleet/commands.h"
#include "fleet/user_files.h"
#include "mqtt/topics.h"
#include "station/panel_json.h"

namespace tarvo_fleet {

namespace {

using nlohmann::json;
using namespace tarvo_mqtt;

volatile std::sig_atomic_t stopRequested = 0;

json EventJson(const std::string& station, const Event& event) {
  return {{"station", station},
          {"boot_id", event.bootId},
          {"seq", event.seq},
          {"at", station::Rfc3339Utc(event.at)},
          {"kind", event.kind},
          {"text", event.text},
          {"rev", event.rev ? json(*event.rev) : json()}};
}

std::string CursorPath(const Options& options) {
  return options.cursorFile.value_or(
      UserFile("XDG_STATE_HOME", ".local/state", "fleet-events.cursor"));
}

// {"session": client id, "seen": {station: seq}}; a new one when there is none.
json ReadCursor(const std::string& path) {
  std::ifstream file(path);
  if (!file) return {{"session", "tarvo-fleet-events-" + RandomId()}, {"seen", json::object()}};
  const json cursor = json::parse(file, nullptr, false);
  if (cursor.is_discarded() || !cursor.is_object() || !cursor.contains("session") ||
      !cursor["session"].is_string() || !cursor.contains("seen") || !cursor["seen"].is_object())
    throw FleetFailure(ExitStatus::kBadInput, path + ": not a cursor of tarvo-fleet events");
  return cursor;
}

void WriteCursor(const std::string& path, const json& cursor) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  const std::string temporary = path + ".new";
  std::ofstream(temporary) << cursor.dump() << '\n';
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error)
    throw FleetFailure(ExitStatus::kBadInput, "cannot write the cursor " + path + ": " +
                                                  error.message());
}

}  // namespace

ExitStatus RunEvents(const Options& options, Console& console) {
  if (options.station && !IsStationId(*options.station))
    throw FleetFailure(
        ExitStatus::kBadInput,
        "\"" + *options.station + "\" is not a station id (letters, digits, - and _)");
  const ClientSettings settings = BrokerSettings(options.broker);
  const std::string filter = options.station ? Topic(*options.station, TopicKind::kEvents)
                                             : EveryStation(TopicKind::kEvents);
  const std::string cursorPath = CursorPath(options);
  json cursor = ReadCursor(cursorPath);
  // The first call writes the cursor before it waits: from then on the broker keeps our events.
  WriteCursor(cursorPath, cursor);
  BrokerSession session(settings, {filter}, cursor["session"].get<std::string>());
  json events = json::array();
  const auto print = [&](const Message& message) {
    const auto topic = ParseTopic(message.topic);
    // A retained copy is one the broker kept, not an event that happened now.
    if (!topic || topic->kind != TopicKind::kEvents || message.retained) return;
    if (options.station && topic->station != *options.station) return;
    json row;
    try {
      row = EventJson(topic->station, ParseEvent(message.payload));
    } catch (const DocumentError& error) {
      console.err << "tarvo-fleet: " << topic->station << ": " << error.what() << '\n';
      return;
    }
    json& seen = cursor["seen"][topic->station];
    if (seen.is_number_integer() && row["seq"].get<int64_t>() <= seen.get<int64_t>()) return;
    seen = row["seq"];
    if (options.json && !options.follow) {
      events.push_back(row);
    } else if (options.json) {
      console.out << station::Dump(row) << std::endl;
      WriteCursor(cursorPath, cursor);
    } else {
      console.out << row["at"].get<std::string>() << "  " << topic->station << "  #" << row["seq"]
                  << "  " << row["kind"].get<std::string>() << "  "
                  << row["text"].get<std::string>() << std::endl;
      if (options.follow) WriteCursor(cursorPath, cursor);
    }
  };
  session.onMessage = print;
  session.Open();
  if (options.follow) {
    std::signal(SIGINT, [](int) { stopRequested = 1; });
    std::signal(SIGTERM, [](int) { stopRequested = 1; });
    while (!stopRequested)
      session.RunUntil([] { return stopRequested != 0; }, std::chrono::seconds(1));
  }
  session.Close();
  WriteCursor(cursorPath, cursor);
  if (options.json && !options.follow) console.out << station::Dump({{"events", events}}) << '\n';
  return ExitStatus::kDone;
}

}  // namespace tarvo_fleet

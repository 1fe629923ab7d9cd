#pragma once
// The agent's history as people read it: one line an event in words, its
// local time of day first, and a line with the date whenever the day changes:
//   2026-12-08
//   06:00:00 applied rev 8: row 1 95 45.60 verified both halves
// Made from the events' documents alone (`kind`, `rev`, `detail`), so an
// event this program does not know still shows, with its detail as JSON.

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

namespace tarvo_cli {

// The words of one event, without its time.
std::string EventText(const nlohmann::json& event);

// Every event of a history reply's "events", oldest first.
void PrintHistory(std::ostream& out, const nlohmann::json& events);

}  // namespace tarvo_cli

#pragma once
// The documents of tarvo-agent's control socket, for the agent and its
// clients alike: one JSON object per line each way, a request at most
// kMaxRequestBytes long (newline included).
//
//   {"op":"write","specs":["row1=56.90:95"],"brightness":"auto","effective_at":"2026-12-09T06:00:00+03:00"}
//   {"op":"write","panels":[...as read --json prints...]}
//   {"op":"read"}  {"op":"status"}  {"op":"schedule"}
//   {"op":"cancel","id":"3f09c2a1b4d6"}  {"op":"history","since":"2026-12-08T00:00:00Z"}
//
// Every reply has "ok"; a refused or failed request has "ok": false and
// "error", one line in the user's terms.

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "station/panel_request.h"

namespace station::agent_protocol {

inline constexpr size_t kMaxRequestBytes = 64 * 1024;

enum class Op { kWrite, kRead, kStatus, kSchedule, kCancel, kHistory };

struct Request {
  Op op = Op::kStatus;
  // write: the panels it changes and the brightness ("auto", "0".."9"), at
  // least one of them; effective_at in milliseconds since the epoch (none: now).
  std::vector<PanelRequest> panels;
  std::optional<std::string> brightness;
  std::optional<int64_t> effectiveAt;
  std::string id;                // cancel
  std::optional<int64_t> since;  // history
};

// One request line (without its newline). Throws InputError saying what is
// wrong: not JSON, an unknown op, a bad field.
Request ParseRequest(std::string_view line);

// "auto" or a level 0..9, as a number or a one-digit text; nothing for
// anything else.
std::optional<std::string> BrightnessLevel(const nlohmann::json& value);

// A document as the line that carries it.
std::string Line(const nlohmann::json& document);
nlohmann::json ErrorReply(const std::string& message);

}  // namespace station::agent_protocol

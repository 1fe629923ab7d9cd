#include "mqtt/topics.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace tarvo_mqtt {

namespace {

constexpr std::array kKinds = {TopicKind::kDesired, TopicKind::kReported,  TopicKind::kStatus,
                               TopicKind::kEvents,  TopicKind::kCmdVerify, TopicKind::kCmdReport};
constexpr size_t kLongestId = 64;

bool IdCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

}  // namespace

std::string_view KindName(TopicKind kind) {
  switch (kind) {
    case TopicKind::kDesired:
      return "desired";
    case TopicKind::kReported:
      return "reported";
    case TopicKind::kStatus:
      return "status";
    case TopicKind::kEvents:
      return "events";
    case TopicKind::kCmdVerify:
      return "cmd/verify";
    case TopicKind::kCmdReport:
      return "cmd/report";
  }
  return "";
}

bool IsStationId(std::string_view id) {
  return !id.empty() && id.size() <= kLongestId && std::all_of(id.begin(), id.end(), IdCharacter);
}

std::string Topic(std::string_view station, TopicKind kind) {
  if (!IsStationId(station))
    throw std::invalid_argument("\"" + std::string(station) +
                                "\" is not a station id (letters, digits, - and _)");
  return std::string(kTopicRoot) + std::string(station) + "/" + std::string(KindName(kind));
}

std::string EveryStation(TopicKind kind) {
  return std::string(kTopicRoot) + "+/" + std::string(KindName(kind));
}

std::optional<StationTopic> ParseTopic(std::string_view topic) {
  if (topic.substr(0, kTopicRoot.size()) != kTopicRoot) return std::nullopt;
  topic.remove_prefix(kTopicRoot.size());
  const size_t slash = topic.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::string_view station = topic.substr(0, slash);
  const std::string_view rest = topic.substr(slash + 1);
  if (!IsStationId(station)) return std::nullopt;
  const auto kind = std::find_if(kKinds.begin(), kKinds.end(),
                                 [rest](TopicKind k) { return KindName(k) == rest; });
  if (kind == kKinds.end()) return std::nullopt;
  return StationTopic{std::string(station), *kind};
}

}  // namespace tarvo_mqtt

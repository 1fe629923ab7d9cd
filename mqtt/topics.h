#pragma once
// The fleet's topics: everything of one station under tarvo/v1/<station>/.
// The version is part of the name, so a later contract can live beside this one.

#include <optional>
#include <string>
#include <string_view>

namespace tarvo_mqtt {

inline constexpr std::string_view kTopicRoot = "tarvo/v1/";

enum class TopicKind {
  kDesired,    // head office -> station, retained, QoS 1
  kReported,   // station -> all, retained, QoS 1
  kStatus,     // station, retained; its last will says "lost"
  kEvents,     // station -> all, QoS 1, not retained
  kCmdVerify,  // head office -> station: verify now
  kCmdReport,  // head office -> station: publish `reported` again
};

// What follows the station's id: "desired", "cmd/verify", ...
std::string_view KindName(TopicKind kind);

// Letters, digits, "-" and "_", 1..64 of them: no MQTT wildcard or level
// separator can hide in one.
bool IsStationId(std::string_view id);

// "tarvo/v1/<station>/<kind>". Throws std::invalid_argument for a station id
// that is not one.
std::string Topic(std::string_view station, TopicKind kind);
// "tarvo/v1/+/<kind>": that kind of every station.
std::string EveryStation(TopicKind kind);

struct StationTopic {
  std::string station;
  TopicKind kind;
  bool operator==(const StationTopic&) const = default;
};
// The station and kind of a topic, or nothing for a topic outside the contract.
std::optional<StationTopic> ParseTopic(std::string_view topic);

}  // namespace tarvo_mqtt

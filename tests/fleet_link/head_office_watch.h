#pragma once
// What the head office sees of the fleet, gathered by a listener of its own:
// every station's retained and later documents, and the order in which each
// station's status documents and events came.

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "fleet_push/fleet_view.h"
#include "mqtt/topics.h"
#include "tests/support/broker_listener.h"

namespace tarvo::test {

class HeadOfficeWatch {
 public:
  explicit HeadOfficeWatch(tarvo_mqtt::ClientSettings settings)
      : listener_(std::move(settings), {"tarvo/v1/#"},
                  [this](const tarvo_mqtt::Message& m) { Take(m); }) {}
  tarvo_fleet::StationView Station(const std::string& id) const {
    std::lock_guard lock(mutex_);
    const tarvo_fleet::StationView* station = view_.Find(id);
    return station ? *station : tarvo_fleet::StationView{};
  }
  // Every status document of the station, as they came.
  std::vector<tarvo_mqtt::Status> Statuses(const std::string& id) const {
    std::lock_guard lock(mutex_);
    const auto found = statuses_.find(id);
    return found == statuses_.end() ? std::vector<tarvo_mqtt::Status>{} : found->second;
  }
  // The kinds of the events the station published, as they came.
  std::vector<std::string> EventKinds(const std::string& id) const {
    std::lock_guard lock(mutex_);
    const auto found = events_.find(id);
    return found == events_.end() ? std::vector<std::string>{} : found->second;
  }
  bool Reports(const std::string& id, int64_t rev, tarvo_mqtt::StationState state) const {
    const tarvo_fleet::StationView station = Station(id);
    return station.reported && station.reported->rev == rev && station.reported->state == state;
  }

 private:
  void Take(const tarvo_mqtt::Message& message) {
    std::lock_guard lock(mutex_);
    view_.Take(message);
    const auto topic = tarvo_mqtt::ParseTopic(message.topic);
    if (topic && topic->kind == tarvo_mqtt::TopicKind::kStatus)
      statuses_[topic->station].push_back(tarvo_mqtt::ParseStatus(message.payload));
    if (topic && topic->kind == tarvo_mqtt::TopicKind::kEvents)
      events_[topic->station].push_back(tarvo_mqtt::ParseEvent(message.payload).kind);
  }

  mutable std::mutex mutex_;
  tarvo_fleet::FleetView view_;
  std::map<std::string, std::vector<tarvo_mqtt::Status>> statuses_;
  std::map<std::string, std::vector<std::string>> events_;
  BrokerListener listener_;  // last: it calls Take until it is gone
};

}  // namespace tarvo::test

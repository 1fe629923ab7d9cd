#include "fleet/broker_session.h"

#include "fleet_push/random_id.h"

#include <fstream>
#include <stdexcept>

#include "fleet_push/failure.h"
#include "mqtt/topics.h"

namespace tarvo_fleet {

namespace {

using namespace std::chrono_literals;
using namespace tarvo_mqtt;

}  // namespace

BrokerSession::BrokerSession(ClientSettings settings, std::vector<std::string> filters,
                             const std::string& persistentId) {
  url_ = settings.url;
  username_ = settings.username;
  settings.clientId = persistentId.empty() ? "tarvo-fleet-" + RandomId() : persistentId;
  settings.cleanSession = persistentId.empty();
  // A station id cannot hold a dot: nothing of the stations' can land here.
  syncTopic_ = std::string(kTopicRoot) + ".sync/" + settings.clientId;
  ClientCallbacks callbacks;
  callbacks.connected = [this] {
    connectedAt_ = std::chrono::steady_clock::now();
    // After our subscriptions the broker has queued their retained messages;
    // this comes back after them.
    client_->Publish(syncTopic_, "", 1, false);
  };
  callbacks.disconnected = [this](const std::string& reason) {
    if (failure_.empty()) failure_ = reason;
  };
  callbacks.message = [this](const Message& message) {
    if (message.topic == syncTopic_) {
      synced_ = true;
      return;
    }
    view_.Take(message);
    if (onMessage) onMessage(message);
  };
  try {
    client_ = std::make_unique<tarvo_mqtt::Client>(std::move(settings), std::move(callbacks));
  } catch (const std::exception& error) {
    throw FleetFailure(ExitStatus::kBadInput, error.what());
  }
  client_->Subscribe(syncTopic_);
  for (const std::string& filter : filters) client_->Subscribe(filter);
  loop_.Add(*client_);
}

BrokerSession::~BrokerSession() = default;

void BrokerSession::Open() {
  client_->Start();
  // Our own marker comes back at once, unless the broker's ACL lets this
  // user read nothing of the fleet: then it never does.
  const auto deaf = [this] {
    return connectedAt_ && std::chrono::steady_clock::now() > *connectedAt_ + 5s;
  };
  loop_.RunUntil([&] { return synced_ || !failure_.empty() || deaf(); }, 30s);
  if (!synced_) {
    const std::string why =
        !failure_.empty() ? failure_
        : deaf() ? "not authorised: the broker lets user \"" + username_ +
                       "\" read nothing of the fleet (is it the head office's user?)"
                 : "the broker sent nothing back within 30 s";
    throw FleetFailure(ExitStatus::kBroker, "broker " + url_ + ": " + why);
  }
  failure_.clear();
}

bool BrokerSession::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
  return loop_.RunUntil(done, bound);
}

void BrokerSession::Close() {
  loop_.RunUntil([this] { return client_->Unacknowledged() == 0; }, 10s);
  client_->Stop();
  loop_.RunUntil([this] { return client_->Wanted().fd < 0; }, 2s);
}

}  // namespace tarvo_fleet

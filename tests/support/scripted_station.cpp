#include "tests/support/scripted_station.h"

#include <chrono>

#include "mqtt/poll_loop.h"
#include "mqtt/topics.h"

namespace tarvo::test {

namespace {

using namespace tarvo_mqtt;

ClientSettings AsStation(const std::string& id, ClientSettings settings) {
  settings.clientId = id;
  settings.cleanSession = false;
  settings.username = id;
  settings.firstRetry = std::chrono::milliseconds(100);
  settings.longestRetry = std::chrono::milliseconds(500);
  return settings;
}

}  // namespace

ScriptedStation::ScriptedStation(std::string id, ClientSettings settings)
    : id_(id),
      client_(
          AsStation(id, std::move(settings)),
          {.connected =
               [this] {
                 client_.Publish(Topic(id_, TopicKind::kStatus), Serialise(Status{true, session_}),
                                 1, true);
                 // As an agent does: where it stands, on every connection.
                 if (reported_)
                   client_.Publish(Topic(id_, TopicKind::kReported), Serialise(*reported_), 1,
                                   true);
                 ++connections_;
                 connected_ = true;
               },
           .disconnected = [this](const std::string&) { connected_ = false; },
           .message = [this](const Message& message) { OnMessage(message); },
           .will =
               [this] {
                 session_ = NextSession(session_);
                 return Will{Topic(id_, TopicKind::kStatus), Serialise(Status{false, session_})};
               },
           .interestChanged = nullptr}) {
  client_.Subscribe(Topic(id_, TopicKind::kDesired));
  client_.Subscribe(std::string(kTopicRoot) + id_ + "/cmd/#");
  thread_ = std::thread([this] { Run(); });
}

ScriptedStation::~ScriptedStation() {
  stop_ = true;
  thread_.join();
}

std::vector<Desired> ScriptedStation::Desired() const {
  std::lock_guard lock(mutex_);
  return desired_;
}

void ScriptedStation::Publish(const std::string& topic, const std::string& payload) {
  std::lock_guard lock(mutex_);
  outbox_.emplace_back(topic, payload);
  settled_ = false;
}

void ScriptedStation::Run() {
  PollLoop loop;
  loop.Add(client_);
  client_.Start();
  while (!stop_) {
    loop.RunOnce(std::chrono::milliseconds(20));
    std::vector<std::pair<std::string, std::string>> outbox;
    {
      std::lock_guard lock(mutex_);
      outbox.swap(outbox_);
    }
    for (const auto& [topic, payload] : outbox) client_.Publish(topic, payload, 1, false);
    std::lock_guard lock(mutex_);
    settled_ = outbox_.empty() && client_.Connected() && client_.Unacknowledged() == 0;
  }
  client_.Stop();
  loop.RunUntil([this] { return client_.Wanted().fd < 0; }, std::chrono::seconds(2));
}

void ScriptedStation::OnMessage(const Message& message) {
  const auto topic = ParseTopic(message.topic);
  if (!topic || topic->kind != TopicKind::kDesired) return;
  tarvo_mqtt::Desired desired;
  try {
    desired = ParseDesired(message.payload);
  } catch (const DocumentError&) {
    return;  // an agent records it as rejected; the sign is left alone
  }
  {
    std::lock_guard lock(mutex_);
    desired_.push_back(desired);
  }
  Reported reported;
  reported.version = "test";
  reported.bootId = "test-boot";
  const WallTime now = station::WallNow();
  reported.rev = desired.rev;
  reported.changeId = desired.changeId;
  reported.state = StationState::kVerified;
  reported.panels = desired.panels;
  for (const ScheduledEntry& entry : desired.scheduled) {
    if (entry.effectiveAt > now) {
      reported.state = StationState::kScheduled;
      reported.pending.push_back({desired.rev, entry.changeId, entry.effectiveAt});
    }
  }
  reported.lastVerification = Verification{now, true};
  reported.verifiedAt = now;
  client_.Publish(Topic(id_, TopicKind::kReported), Serialise(reported), 1, true);
  reported_ = reported;
}

}  // namespace tarvo::test

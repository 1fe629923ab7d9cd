#pragma once
// The station's link to its head office over MQTT (tarvo/v1/<station>/...):
// another source of changes and an observer of the core. It takes the head
// office's plan (`desired`, only one above the office rev it took last) and
// reconciles the changes it holds with it: what the plan wants now, new
// entries scheduled, entries gone from it cancelled. It publishes `reported`
// whenever its content changes, `status` online for each connection (its
// will says lost; said again when a late will of an older connection lands),
// every history event on `events` (those recorded while away once it is
// back), and answers cmd/verify and cmd/report. The client runs on the
// agent's own loop: the sign's work never waits for the broker, and without
// a broker everything local goes on.

#include <systemd/sd-event.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "agent/agent_config.h"
#include "agent/agent_core.h"
#include "agent/head_office_revisions.h"
#include "agent/state_db.h"
#include "mqtt/client.h"
#include "mqtt/documents.h"
#include "mqtt/sd_event_driver.h"

namespace agent {

class FleetLink final : public AgentObserver {
 public:
  // config.mqtt must be set. Registers itself as the core's observer.
  // Throws for settings the client refuses (a password file it cannot read).
  FleetLink(sd_event* loop, const AgentConfig& config, AgentCore& core, StateDb& db);
  ~FleetLink() override;
  FleetLink(const FleetLink&) = delete;
  FleetLink& operator=(const FleetLink&) = delete;

  // The first connection attempt; the rest follow by themselves.
  void Start();
  void OnEvent(const Event& event) override;

  // What `reported` says now.
  tarvo_mqtt::Reported Report() const;
  bool Connected() const { return client_->Connected(); }

 private:
  void OnMessage(const tarvo_mqtt::Message& message);
  void OnDesired(const std::string& payload);
  void OnStatus(const std::string& payload);
  void Reconcile(const tarvo_mqtt::Desired& plan);
  void Submit(const HeadOfficeRevision& revision, ChangeRequest request);
  void OnConnected();
  void OnDisconnected(const std::string& reason);
  std::optional<tarvo_mqtt::Will> NextWill();
  void TrackSign(const Event& event);
  void TrackRevisions(const Event& event);
  void Publish(const Event& event);
  void Backfill();
  void PublishStatus();
  void Save(const char* key, const nlohmann::json& value);
  // Publishes `reported` from the loop once the events of a step are in.
  void Later();
  void PublishReport();
  static int OnLater(sd_event_source* source, void* self);
  static int OnEchoWait(sd_event_source* source, uint64_t usec, void* self);

  sd_event* loop_;
  std::string station_;
  std::string username_;  // the station's user on the broker
  DriftMode drift_;
  AgentCore& core_;
  StateDb& db_;
  HeadOfficeRevisions revisions_;
  // The head office's change being submitted, until the core has recorded it.
  std::optional<HeadOfficeRevision> submitting_;
  tarvo_mqtt::StationState signState_ = tarvo_mqtt::StationState::kUnverified;
  int64_t signStateAt_ = 0;               // when an event last moved signState_
  std::optional<int64_t> signFailedAt_;  // the sign did not answer since its last verification
  std::optional<int64_t> verifiedAt_;  // since when the sign holds the current revision
  std::string bootId_;
  // The last history event the broker took, and its time; no time before
  // the first connection.
  int64_t sentId_ = 0;
  std::optional<int64_t> sentAt_;
  int64_t session_ = 0;
  std::optional<tarvo_mqtt::Reported> published_;  // the last `reported` the broker took
  std::string lastProblem_;
  sd_event_source* later_ = nullptr;
  sd_event_source* echoWait_ = nullptr;  // from connecting until our status comes back
  bool echoed_ = false;
  std::unique_ptr<tarvo_mqtt::SdEventDriver> driver_;
  std::unique_ptr<tarvo_mqtt::Client> client_;
};

}  // namespace agent

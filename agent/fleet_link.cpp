#include "agent/fleet_link.h"

#include <systemd/sd-id128.h>

#include <algorithm>
#include <chrono>
#include <system_error>

#include "agent/agent_log.h"
#include "mqtt/topics.h"
#include "station/panel_json.h"
#include "station/rfc3339.h"
#include "station/utc_instant.h"

namespace agent {

namespace {

using nlohmann::json;
using tarvo_mqtt::StationState;
using tarvo_mqtt::TopicKind;

constexpr const char* kRevisionsKey = "head_office";
constexpr const char* kSessionKey = "mqtt_session";

tarvo_mqtt::WallTime WallTimeOf(int64_t ms) {
  return tarvo_mqtt::WallTime(std::chrono::milliseconds(ms));
}

std::optional<tarvo_mqtt::WallTime> WallTimeOf(const json& instant) {
  if (!instant.is_string()) return std::nullopt;
  return station::ParseRfc3339(instant.get<std::string>());
}

int64_t MillisecondsOf(tarvo_mqtt::WallTime time) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

std::string NewBootId() {
  sd_id128_t id;
  if (sd_id128_randomize(&id) < 0) throw std::runtime_error("no random bytes for a boot id");
  char text[SD_ID128_STRING_MAX];
  return sd_id128_to_string(id, text);
}

}  // namespace

FleetLink::FleetLink(sd_event* loop, const AgentConfig& config, AgentCore& core, StateDb& db)
    : loop_(loop),
      station_(config.station),
      drift_(config.drift),
      core_(core),
      db_(db),
      bootId_(NewBootId()) {
  if (auto saved = db_.Value(kRevisionsKey)) revisions_ = HeadOfficeRevisions::FromJson(*saved);
  session_ = db_.Value(kSessionKey).value_or(0).get<int64_t>();
  // Where the sign stood when the agent last looked; events move it on.
  const json status = core_.Status();
  const json& verification = status["last_verification"];
  if (status["rev"].get<int64_t>() > 0 && status["verified_rev"] >= status["rev"] &&
      verification.is_object() && verification.value("ok", false)) {
    signState_ = StationState::kVerified;
    if (auto at = WallTimeOf(verification["at"])) verifiedAt_ = MillisecondsOf(*at);
  }
  const int result = sd_event_add_defer(loop_, &later_, &FleetLink::OnLater, this);
  if (result < 0) throw std::system_error(-result, std::generic_category(), "sd_event_add_defer");
  sd_event_source_set_enabled(later_, SD_EVENT_OFF);

  tarvo_mqtt::ClientCallbacks callbacks;
  callbacks.connected = [this] { OnConnected(); };
  callbacks.disconnected = [this](const std::string& reason) { OnDisconnected(reason); };
  callbacks.message = [this](const tarvo_mqtt::Message& message) { OnMessage(message); };
  callbacks.will = [this] { return NextWill(); };
  driver_ = std::make_unique<tarvo_mqtt::SdEventDriver>(loop_);
  callbacks.interestChanged = [this] { driver_->Update(); };
  client_ = std::make_unique<tarvo_mqtt::Client>(*config.mqtt, std::move(callbacks));
  driver_->Attach(*client_);
  client_->Subscribe(tarvo_mqtt::Topic(station_, TopicKind::kDesired), 1);
  client_->Subscribe(std::string(tarvo_mqtt::kTopicRoot) + station_ + "/cmd/#", 1);
  core_.AddObserver(this);
}

// Without a goodbye: the broker publishes the will, as for a crash.
FleetLink::~FleetLink() {
  driver_.reset();
  client_.reset();
  sd_event_source_disable_unref(later_);
}

void FleetLink::Start() { client_->Start(); }

std::optional<tarvo_mqtt::Will> FleetLink::NextWill() {
  session_ = tarvo_mqtt::NextSession(session_);
  Save(kSessionKey, session_);
  return tarvo_mqtt::Will{tarvo_mqtt::Topic(station_, TopicKind::kStatus),
                          tarvo_mqtt::Serialise(tarvo_mqtt::Status{false, session_}), true};
}

void FleetLink::OnConnected() {
  Log(LOG_INFO, "connected to the head office's broker, session " + std::to_string(session_));
  lastProblem_.clear();
  client_->Publish(tarvo_mqtt::Topic(station_, TopicKind::kStatus),
                   tarvo_mqtt::Serialise(tarvo_mqtt::Status{true, session_}), 1, true);
  published_.reset();
  PublishReport();
}

void FleetLink::OnDisconnected(const std::string& reason) {
  published_.reset();
  if (reason == lastProblem_) return;  // once per problem, not at every retry
  lastProblem_ = reason;
  Log(LOG_WARNING, "head office's broker: " + reason + "; the station goes on and retries");
}

void FleetLink::OnMessage(const tarvo_mqtt::Message& message) {
  const std::optional<tarvo_mqtt::StationTopic> topic = tarvo_mqtt::ParseTopic(message.topic);
  if (!topic || topic->station != station_) return;
  switch (topic->kind) {
    case TopicKind::kDesired:
      OnDesired(message.payload);
      break;
    case TopicKind::kCmdVerify:
      core_.Read([](const json&) {});
      break;
    case TopicKind::kCmdReport:
      published_.reset();
      PublishReport();
      break;
    default:
      break;
  }
}

void FleetLink::OnDesired(const std::string& payload) {
  if (payload.empty()) return;  // the head office cleared its retained document
  tarvo_mqtt::Desired desired;
  try {
    desired = tarvo_mqtt::ParseDesired(payload);
  } catch (const tarvo_mqtt::DocumentError& error) {
    core_.Record(station::EventKind::kDesiredRejected, std::nullopt, {{"problem", error.what()}}, LOG_WARNING);
    return;
  }
  if (desired.rev <= revisions_.Highest()) {
    core_.Record(
        station::EventKind::kDesiredIgnored, std::nullopt,
        {{"rev", desired.rev}, {"change_id", desired.changeId}, {"highest", revisions_.Highest()}},
        LOG_INFO);
    return;
  }
  // The newest document is the head office's whole wish: an older one still
  // waiting for its time must not land on top of it later.
  for (const HeadOfficeRevision& older : std::vector(revisions_.pending))
    core_.Cancel(older.agentId, "head office", [](const json&) {});
  ChangeRequest request;
  request.issuer = desired.issuer;
  request.sourceRev = desired.rev;
  request.panels = desired.panels;
  request.brightness = desired.brightness;
  if (desired.effectiveAt) request.effectiveAt = MillisecondsOf(*desired.effectiveAt);
  submitting_ = &desired;
  core_.Submit(request, [](const json&) {});
  submitting_ = nullptr;
}

void FleetLink::OnEvent(const Event& event) {
  TrackRevisions(event);
  TrackSign(event);
  Publish(event);
  Later();
}

void FleetLink::TrackRevisions(const Event& event) {
  using station::EventKind;
  const bool accepted = event.kind == EventKind::kChangeAccepted;
  if (!event.change || !(accepted || event.kind == EventKind::kChangeScheduled || event.kind == EventKind::kChangeDue ||
                         event.kind == EventKind::kChangeSkipped || event.kind == EventKind::kChangeCancelled))
    return;
  const int64_t agentRev = *event.change;
  if (submitting_ != nullptr && (accepted || event.kind == EventKind::kChangeScheduled)) {
    HeadOfficeRevision revision{submitting_->rev, submitting_->changeId, agentRev,
                                event.detail.value("id", ""), std::nullopt};
    if (submitting_->effectiveAt) revision.effectiveAt = MillisecondsOf(*submitting_->effectiveAt);
    revisions_.pending.push_back(revision);
    if (accepted) revisions_.TookEffect(agentRev, {});
  } else if (accepted || event.kind == EventKind::kChangeDue) {
    const std::string id = event.detail.value("id", "");
    const std::optional<Change> change = db_.ChangeById(id);
    revisions_.TookEffect(agentRev, {id, change ? change->request.issuer : "", event.at});
  } else if (event.kind != EventKind::kChangeScheduled) {
    revisions_.Dropped(agentRev);
  }
  Save(kRevisionsKey, revisions_.ToJson());
}

// The sign's state as the core's events tell it, in their order.
void FleetLink::TrackSign(const Event& event) {
  using station::EventKind;
  const EventKind kind = event.kind;
  StationState next = signState_;
  if (kind == EventKind::kChangeAccepted || kind == EventKind::kChangeDue || kind == EventKind::kPortBack) {
    next = StationState::kApplying;
  } else if (kind == EventKind::kApplied) {
    next =
        event.detail.value("verified", false) ? StationState::kVerified : StationState::kUnverified;
  } else if (kind == EventKind::kVerificationOk || kind == EventKind::kDriftHealed) {
    next = StationState::kVerified;
  } else if (kind == EventKind::kDriftFound) {
    next = drift_ == DriftMode::kHeal ? StationState::kApplying : StationState::kUnverified;
  } else if (kind == EventKind::kVerificationFailed) {
    next = StationState::kUnverified;
  } else if (kind == EventKind::kPortHeld) {
    next = StationState::kPortHeld;
  } else if (kind == EventKind::kPortLost || kind == EventKind::kPortFailed) {
    next = StationState::kPortLost;
  }
  signState_ = next;
}

void FleetLink::Publish(const Event& event) {
  ++seq_;
  if (!client_->Connected()) return;  // the history keeps it
  tarvo_mqtt::Event document{bootId_,
                             seq_,
                             WallTimeOf(event.at),
                             station::EventKindTopicName(event.kind),
                             station::Dump(event.detail),
                             event.change ? revisions_.HeadOfficeRev(*event.change) : std::nullopt};
  client_->Publish(tarvo_mqtt::Topic(station_, TopicKind::kEvents), tarvo_mqtt::Serialise(document),
                   1, false);
}

void FleetLink::Save(const char* key, const json& value) {
  try {
    db_.SetValue(key, value);
  } catch (const std::exception& error) {
    Log(LOG_ERR, std::string("cannot store the head office's state: ") + error.what());
  }
}

tarvo_mqtt::Reported FleetLink::Report() const {
  tarvo_mqtt::Reported report;
  if (revisions_.applied) {
    report.rev = revisions_.applied->rev;
    report.changeId = revisions_.applied->changeId;
  }
  for (const auto& [address, record] : core_.LastReadback()) {
    if (record)
      report.panels.push_back({address, record->price, record->grade, record->inscription});
  }
  const json status = core_.Status();
  // A sign that holds what it should (or has nothing to hold yet) waits for the next revision.
  report.state = signState_;
  // A verification that began before the latest change says nothing of it.
  if (report.state == StationState::kVerified && status["verified_rev"] < status["rev"])
    report.state = StationState::kApplying;
  const bool settled = report.state == StationState::kVerified || status["rev"] == 0;
  if (settled && !revisions_.pending.empty()) report.state = StationState::kScheduled;
  if (status["last_verification"].is_object())
    report.readAt = WallTimeOf(status["last_verification"]["at"]);
  if (verifiedAt_) report.verifiedAt = WallTimeOf(*verifiedAt_);
  report.driftCount = status["drift_count"].get<int64_t>();
  for (const HeadOfficeRevision& pending : revisions_.pending)
    report.pending.push_back(
        {pending.rev, pending.changeId, WallTimeOf(pending.effectiveAt.value_or(0))});
  if (revisions_.localOverride)
    report.localOverride = tarvo_mqtt::LocalOverride{revisions_.localOverride->changeId,
                                                     revisions_.localOverride->issuer,
                                                     WallTimeOf(revisions_.localOverride->at)};
  report.version = TARVO_VERSION;
  report.bootId = bootId_;
  return report;
}

void FleetLink::Later() { sd_event_source_set_enabled(later_, SD_EVENT_ONESHOT); }

int FleetLink::OnLater(sd_event_source*, void* self) {
  static_cast<FleetLink*>(self)->PublishReport();
  return 0;
}

void FleetLink::PublishReport() {
  tarvo_mqtt::Reported report = Report();
  if (report.state == StationState::kVerified && !verifiedAt_) {
    verifiedAt_ = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
    report.verifiedAt = WallTimeOf(*verifiedAt_);
  } else if (report.state != StationState::kVerified && report.state != StationState::kScheduled) {
    verifiedAt_.reset();
  }
  if (!client_->Connected()) return;
  if (published_ && *published_ == report) return;
  if (client_->Publish(tarvo_mqtt::Topic(station_, TopicKind::kReported),
                       tarvo_mqtt::Serialise(report), 1, true))
    published_ = std::move(report);
}

}  // namespace agent

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
constexpr const char* kSentEventKey = "mqtt_sent_event";
// History events published at a time after a reconnect.
constexpr int kBackfillBatch = 1000;
// The broker sends our own status back within this, unless its ACL gives the
// user none of the station's topics.
constexpr uint64_t kEchoBoundUs = 5'000'000;

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
  if (auto sent = db_.Value(kSentEventKey); sent && sent->is_object()) {
    sentId_ = sent->at("id").get<int64_t>();
    sentAt_ = sent->at("at").get<int64_t>();
  }
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
  tarvo_mqtt::ClientSettings settings = *config.mqtt;
  // One id per station: a new connection takes the place of a half-open old
  // one at once, instead of waiting for the broker to time it out.
  settings.clientId = "tarvo-agent-" + station_;
  username_ = settings.username;
  client_ = std::make_unique<tarvo_mqtt::Client>(std::move(settings), std::move(callbacks));
  driver_->Attach(*client_);
  client_->Subscribe(tarvo_mqtt::Topic(station_, TopicKind::kDesired), 1);
  client_->Subscribe(tarvo_mqtt::Topic(station_, TopicKind::kStatus), 1);
  client_->Subscribe(std::string(tarvo_mqtt::kTopicRoot) + station_ + "/cmd/#", 1);
  core_.AddObserver(this);
}

// Without a goodbye: the broker publishes the will, as for a crash.
FleetLink::~FleetLink() {
  driver_.reset();
  client_.reset();
  sd_event_source_disable_unref(later_);
  sd_event_source_disable_unref(echoWait_);
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
  echoed_ = false;
  sd_event_source_disable_unref(echoWait_);
  echoWait_ = nullptr;
  sd_event_add_time_relative(loop_, &echoWait_, CLOCK_MONOTONIC, kEchoBoundUs, 0,
                             &FleetLink::OnEchoWait, this);
  PublishStatus();
  published_.reset();
  PublishReport();
  Backfill();
}

void FleetLink::PublishStatus() {
  client_->Publish(tarvo_mqtt::Topic(station_, TopicKind::kStatus),
                   tarvo_mqtt::Serialise(tarvo_mqtt::Status{true, session_}), 1, true);
}

// A will of an older connection of ours that the broker let go only now has
// replaced our "online": put it back.
void FleetLink::OnStatus(const std::string& payload) {
  if (payload.empty() || !client_->Connected()) return;
  try {
    const tarvo_mqtt::Status status = tarvo_mqtt::ParseStatus(payload);
    if (status.online && status.session == session_) echoed_ = true;
    if (!status.online && status.session < session_) PublishStatus();
  } catch (const tarvo_mqtt::DocumentError&) {
    PublishStatus();  // not ours to keep
  }
}

// A broker that takes our status but never lets us see it: its ACL gives
// this user name nothing of the station's, and everything we send is lost.
int FleetLink::OnEchoWait(sd_event_source*, uint64_t, void* self) {
  auto& link = *static_cast<FleetLink*>(self);
  if (link.client_->Connected() && !link.echoed_)
    Log(LOG_ERR, "the broker does not let user \"" + link.username_ + "\" speak for station \"" +
                     link.station_ + "\": nothing it publishes reaches the head office, and no " +
                     "price reaches it (the user name on the broker must be the station's id)");
  return 0;
}

// The history recorded while the broker was away, oldest first, with the
// ids it has in the history: a head office drops what it got already.
void FleetLink::Backfill() {
  if (!sentAt_) {
    // The first connection ever: the history before it stays in the history.
    sentAt_ = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::system_clock::now().time_since_epoch())
                  .count();
    Save(kSentEventKey, {{"id", sentId_}, {"at", *sentAt_}});
  }
  std::vector<Event> missed;
  try {
    missed = db_.Events(*sentAt_, kBackfillBatch);
  } catch (const std::exception& error) {
    Log(LOG_ERR, std::string("cannot read the history to send: ") + error.what());
    return;
  }
  for (const Event& event : missed) Publish(event);
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
    case TopicKind::kStatus:
      OnStatus(message.payload);
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
  const int64_t highest = revisions_.Highest();
  if (desired.rev == highest && desired.changeId == revisions_.PlanChangeId()) return;  // again
  if (desired.rev <= highest) {
    // Never silently: the head office shows which plan was not taken, and why.
    const std::string reason = desired.rev < highest ? "stale" : "conflict";
    core_.Record(desired.rev < highest ? station::EventKind::kDesiredStale
                                       : station::EventKind::kDesiredConflict,
                 std::nullopt,
                 {{"office_rev", desired.rev},
                  {"change_id", desired.changeId},
                  {"holds_office_rev", highest},
                  {"holds_change_id", revisions_.PlanChangeId()}},
                 LOG_WARNING);
    revisions_.refused = RefusedPlan{desired.rev, desired.changeId, reason};
    Save(kRevisionsKey, revisions_.ToJson());
    Later();
    return;
  }
  Reconcile(desired);
}

// The plan against the one taken before: what it wants now is submitted when
// it differs, each new entry is scheduled (one whose time has passed is
// applied at once, in the order of their times), and each entry held that
// the plan no longer has is cancelled.
void FleetLink::Reconcile(const tarvo_mqtt::Desired& plan) {
  std::optional<tarvo_mqtt::Desired> before;
  if (revisions_.plan.is_object()) before = tarvo_mqtt::ParseDesired(revisions_.plan.dump());
  revisions_.plan = json::parse(tarvo_mqtt::Serialise(plan));
  revisions_.refused.reset();
  Save(kRevisionsKey, revisions_.ToJson());
  const auto listed = [](const std::vector<tarvo_mqtt::ScheduledEntry>& entries,
                         const std::string& changeId) {
    return std::any_of(entries.begin(), entries.end(),
                       [&](const auto& entry) { return entry.changeId == changeId; });
  };
  for (const HeadOfficeRevision& held : std::vector(revisions_.pending))
    if (held.effectiveAt && !listed(plan.scheduled, held.changeId))
      core_.Cancel(held.agentId, "head office", [](const json&) {});
  // An entry withdrawn after it came due here (the head office's clock was
  // behind, or the plan came late) has set its fields: what the plan wants
  // now is written again over them.
  const bool withdrawnLate =
      before && std::any_of(before->scheduled.begin(), before->scheduled.end(), [&](const auto& entry) {
        const bool held = std::any_of(revisions_.pending.begin(), revisions_.pending.end(),
                                      [&](const auto& r) { return r.changeId == entry.changeId; });
        return !held && !listed(plan.scheduled, entry.changeId) &&
               MillisecondsOf(entry.effectiveAt) <= core_.NowMs();
      });
  const bool wantsNow = !plan.panels.empty() || plan.brightness;
  if (wantsNow && (!before || withdrawnLate || before->panels != plan.panels ||
                   before->brightness != plan.brightness)) {
    ChangeRequest now;
    now.panels = plan.panels;
    now.brightness = plan.brightness;
    now.issuer = plan.issuer;
    Submit({plan.rev, plan.changeId, 0, "", std::nullopt}, std::move(now));
  }
  for (const tarvo_mqtt::ScheduledEntry& entry : plan.scheduled) {
    if (before && listed(before->scheduled, entry.changeId)) continue;
    ChangeRequest later;
    later.panels = entry.panels;
    later.brightness = entry.brightness;
    later.issuer = entry.issuer;
    later.effectiveAt = MillisecondsOf(entry.effectiveAt);
    Submit({plan.rev, entry.changeId, 0, "", later.effectiveAt}, std::move(later));
  }
  Later();
}

void FleetLink::Submit(const HeadOfficeRevision& revision, ChangeRequest request) {
  request.sourceRev = revision.rev;
  submitting_ = revision;
  core_.Submit(request, [](const json&) {});
  submitting_.reset();
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
  if (submitting_ && (accepted || event.kind == EventKind::kChangeScheduled)) {
    HeadOfficeRevision revision = *submitting_;
    revision.agentRev = agentRev;
    revision.agentId = event.detail.value("id", "");
    revisions_.pending.push_back(revision);
    if (accepted) revisions_.TookEffect(agentRev, {});
  } else if (accepted || event.kind == EventKind::kChangeDue) {
    const std::string id = event.detail.value("id", "");
    const std::optional<Change> change = db_.ChangeById(id);
    LocalOverride local{id, change ? change->request.issuer : "", event.at, {}};
    if (change)
      for (const station::PanelRequest& panel : change->request.panels)
        local.panels.push_back(panel.address);
    revisions_.TookEffect(agentRev, local);
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
  } else if (kind == EventKind::kVerificationFailed || kind == EventKind::kSignSilent) {
    next = StationState::kUnverified;
  } else if (kind == EventKind::kPortHeld) {
    next = StationState::kPortHeld;
  } else if (kind == EventKind::kPortLost || kind == EventKind::kPortFailed) {
    next = StationState::kPortLost;
  }
  if (next != signState_) signStateAt_ = event.at;
  signState_ = next;
  // A sign that did not answer leaves no verification behind: remember the failure.
  if (kind == EventKind::kSignSilent || kind == EventKind::kPortLost ||
      kind == EventKind::kPortFailed || kind == EventKind::kPortHeld)
    signFailedAt_ = event.at;
  else if (kind == EventKind::kPortBack || kind == EventKind::kVerificationOk ||
           kind == EventKind::kApplied)
    signFailedAt_.reset();
}

void FleetLink::Publish(const Event& event) {
  if (!client_->Connected() || !sentAt_) return;  // the history keeps it until the link is back
  if (event.id <= sentId_) return;
  tarvo_mqtt::Event document{bootId_,
                             event.id,
                             WallTimeOf(event.at),
                             station::EventKindTopicName(event.kind),
                             station::Dump(event.detail),
                             event.change ? revisions_.HeadOfficeRev(*event.change) : std::nullopt};
  if (!client_->Publish(tarvo_mqtt::Topic(station_, TopicKind::kEvents),
                        tarvo_mqtt::Serialise(document), 1, false))
    return;
  sentId_ = event.id;
  sentAt_ = event.at;
  Save(kSentEventKey, {{"id", sentId_}, {"at", *sentAt_}});
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
  if (revisions_.plan.is_object()) {
    report.rev = revisions_.Highest();
    report.changeId = revisions_.PlanChangeId();
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
  const json& verification = status["last_verification"];
  if (verification.is_object())
    if (auto at = WallTimeOf(verification["at"]))
      report.lastVerification = tarvo_mqtt::Verification{*at, verification.value("ok", false)};
  if (signFailedAt_ &&
      (!report.lastVerification || MillisecondsOf(report.lastVerification->at) <= *signFailedAt_))
    report.lastVerification = tarvo_mqtt::Verification{WallTimeOf(*signFailedAt_), false};
  // A later verification that held, after the events that made the state
  // something else (a sign back after silence): verified again.
  if (report.state != StationState::kVerified && report.state != StationState::kPortHeld &&
      report.lastVerification && report.lastVerification->ok && !signFailedAt_ &&
      status["rev"].get<int64_t>() > 0 && status["verified_rev"] >= status["rev"] &&
      MillisecondsOf(report.lastVerification->at) > signStateAt_)
    report.state = StationState::kVerified;
  if (verifiedAt_) report.verifiedAt = WallTimeOf(*verifiedAt_);
  report.driftCount = status["drift_count"].get<int64_t>();
  for (const HeadOfficeRevision& pending : revisions_.pending)
    report.pending.push_back(
        {pending.rev, pending.changeId, WallTimeOf(pending.effectiveAt.value_or(0))});
  if (revisions_.localOverride)
    report.localOverride = tarvo_mqtt::LocalOverride{
        revisions_.localOverride->changeId, revisions_.localOverride->issuer,
        WallTimeOf(revisions_.localOverride->at), revisions_.localOverride->panels};
  if (revisions_.refused)
    report.refused = tarvo_mqtt::RefusedPlan{revisions_.refused->rev, revisions_.refused->changeId,
                                             revisions_.refused->reason};
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

#include "agent/agent_core.h"

#include <sys/random.h>

#include <algorithm>
#include <cstdio>

#include "agent/agent_documents.h"
#include "agent/agent_log.h"
#include "station/agent_protocol.h"
#include "station/panel_json.h"
#include "station/utc_instant.h"

namespace agent {

namespace {

using nlohmann::json;

constexpr int kFirstBackoffMs = 1000;
constexpr int kLongestBackoffMs = 60000;
constexpr int kHistoryLimit = 1000;

std::string NewChangeId() {
  unsigned char bytes[6] = {};
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
    throw StoreError("no random bytes for a change id");
  char text[2 * sizeof bytes + 1];
  for (size_t i = 0; i < sizeof bytes; ++i) std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
  return text;
}

// Replaces a one-shot timer of the loop.
void Arm(sd_event* loop, sd_event_source*& source, clockid_t clock, uint64_t usec,
         sd_event_time_handler_t handler, void* self) {
  sd_event_source_disable_unref(source);
  source = nullptr;
  // Accuracy of 1 us: a change due at 06:00:00 must not wait for a coalesced wake-up.
  sd_event_add_time(loop, &source, clock, usec, 1, handler, self);
}

void Disarm(sd_event_source*& source) {
  sd_event_source_disable_unref(source);
  source = nullptr;
}

uint64_t MonotonicIn(sd_event* loop, int64_t ms) {
  uint64_t now = 0;
  sd_event_now(loop, CLOCK_MONOTONIC, &now);
  return now + static_cast<uint64_t>(ms) * 1000;
}

using station::EventKind;

EventKind PortEventKind(const SignJobResult& result) {
  if (!result.portState) return EventKind::kSignSilent;
  if (result.portState == station::PortState::kBusy) return EventKind::kPortHeld;
  if (result.portState == station::PortState::kNoDevice) return EventKind::kPortLost;
  return EventKind::kPortFailed;
}

std::optional<int64_t> RevIf(int64_t rev) { return rev ? std::optional(rev) : std::nullopt; }

bool SharesPanels(const ChangeRequest& earlier, const ChangeRequest& later) {
  if (earlier.brightness && later.brightness) return true;
  return std::any_of(earlier.panels.begin(), earlier.panels.end(), [&later](const station::PanelRequest& a) {
    return std::any_of(later.panels.begin(), later.panels.end(),
                       [&a](const station::PanelRequest& b) { return a.address == b.address; });
  });
}

std::string EventLine(const Event& event) {
  return std::string(station::EventKindName(event.kind)) + (event.rev ? " rev " + std::to_string(*event.rev) : "") +
         ": " + station::Dump(event.detail);
}

}  // namespace

AgentCore::AgentCore(sd_event* loop, const AgentConfig& config, StateDb& db)
    : loop_(loop),
      config_(config),
      db_(db),
      clock_(loop, [this](int64_t jumpMs) { OnClockJump(jumpMs); }),
      worker_(loop) {
  Load();
}

AgentCore::~AgentCore() {
  Disarm(scheduleTimer_);
  Disarm(verifyTimer_);
  Disarm(retryTimer_);
}

void AgentCore::Load() {
  // A value an earlier or damaged agent stored in another shape stops the
  // start with its name, not with the JSON library's words.
  const auto read = [this](const char* key, const auto& convert) {
    const std::optional<json> stored = db_.Value(key);
    try {
      return convert(stored);
    } catch (const json::exception&) {
      throw StoreError("database " + db_.Path() + ": the value " + key + " cannot be read: " +
                       stored->dump().substr(0, 80));
    }
  };
  const auto number = [&read](const char* key) {
    return read(key, [](const std::optional<json>& value) { return value.value_or(0).get<int64_t>(); });
  };
  desired_ = read("desired", [](const std::optional<json>& value) {
    return value ? DesiredFromJson(*value) : DesiredState();
  });
  readback_ = read("readback", [](const std::optional<json>& value) {
    return value ? ReadbackFromJson(*value) : Readback();
  });
  // An earlier agent called the state's revision current_rev.
  stateRev_ = db_.Value("state_rev") ? number("state_rev") : number("current_rev");
  verifiedRev_ = number("verified_rev");
  brightnessRev_ = number("brightness_rev");
  brightnessDoneRev_ = number("brightness_done_rev");
  driftCount_ = number("drift_count");
  lastVerification_ = db_.Value("last_verification").value_or(json());
  lastProblem_ = db_.Value("last_problem").value_or(json());
  pending_ = db_.Changes(ChangeState::kPending);
  for (Change& change : db_.Changes(ChangeState::kApplied))
    if (change.stateRev && *change.stateRev > verifiedRev_) unconfirmed_.push_back(std::move(change));
}

void AgentCore::Record(EventKind kind, std::optional<int64_t> rev, json detail, int priority) {
  RecordEvent({0, clock_.NowMs(), kind, std::nullopt, rev, std::move(detail)}, priority);
}

void AgentCore::RecordChange(EventKind kind, const Change& change, json detail, int priority) {
  RecordEvent({0, clock_.NowMs(), kind, change.number, change.stateRev, std::move(detail)}, priority);
}

void AgentCore::RecordEvent(Event event, int priority) {
  if (inTransaction_) {
    // A store failure here rolls the whole transaction back.
    event.id = db_.AddEvent(event);
    uncommitted_.emplace_back(std::move(event), priority);
    return;
  }
  try {
    event.id = db_.AddEvent(event);
  } catch (const StoreError& error) {
    // The journal has it; nobody hears of an event the history lacks.
    Log(priority, EventLine(event));
    Log(LOG_ERR, "cannot record the event in the history: " + std::string(error.what()));
    return;
  }
  Heard(event, priority);
}

void AgentCore::Heard(const Event& event, int priority) {
  Log(priority, EventLine(event));
  for (AgentObserver* observer : observers_) observer->OnEvent(event);
}

void AgentCore::Durably(const std::function<void()>& body) {
  db_.Begin();
  inTransaction_ = true;
  try {
    for (const auto& store : unstored_) store();
    body();
    db_.Commit();
  } catch (...) {
    inTransaction_ = false;
    uncommitted_.clear();
    db_.Rollback();
    throw;
  }
  inTransaction_ = false;
  unstored_.clear();
  std::vector<std::pair<Event, int>> committed;
  committed.swap(uncommitted_);
  for (const auto& [event, priority] : committed) Heard(event, priority);
}

void AgentCore::Notify() {
  for (AgentObserver* observer : observers_) observer->OnStatus();
}

void AgentCore::Start() {
  Record(EventKind::kAgentStarted, RevIf(stateRev_),
         {{"station", config_.station}, {"port", config_.port}, {"pending", pending_.size()}}, LOG_INFO);
  TakeDue();
  needVerify_ = true;
  Kick();
  Notify();
}

void AgentCore::Stopping() { Record(EventKind::kAgentStopped, std::nullopt, json::object(), LOG_INFO); }

void AgentCore::Submit(const ChangeRequest& request, Reply reply) {
  Change change;
  change.request = request;
  change.requestedAt = clock_.NowMs();
  const bool scheduled = request.effectiveAt && *request.effectiveAt > change.requestedAt;
  change.state = scheduled ? ChangeState::kPending : ChangeState::kApplied;
  // What the loop holds goes back with the transaction if it fails.
  const DesiredState desiredBefore = desired_;
  const int64_t revBefore = stateRev_;
  const int64_t brightnessBefore = brightnessRev_;
  try {
    change.id = NewChangeId();
    Durably([&] {
      change.number = db_.LastChangeNumber() + 1;
      if (scheduled) {
        db_.InsertChange(change);
        RecordChange(EventKind::kChangeScheduled, change, ChangeJson(change), LOG_INFO);
        return;
      }
      desired_.Apply(request);
      change.stateRev = ++stateRev_;
      if (request.brightness) brightnessRev_ = stateRev_;
      db_.InsertChange(change);
      db_.SetValue("desired", DesiredJson(desired_));
      db_.SetValue("state_rev", stateRev_);
      db_.SetValue("brightness_rev", brightnessRev_);
      RecordChange(EventKind::kChangeAccepted, change, ChangeJson(change), LOG_INFO);
    });
  } catch (const std::exception& error) {
    desired_ = desiredBefore;
    stateRev_ = revBefore;
    brightnessRev_ = brightnessBefore;
    Log(LOG_ERR, std::string("cannot store a change: ") + error.what());
    reply(station::agent_protocol::ErrorReply(std::string("the change was not stored: ") + error.what()));
    return;
  }
  if (scheduled) {
    pending_.push_back(change);
    std::stable_sort(pending_.begin(), pending_.end(), [](const Change& a, const Change& b) {
      return *a.request.effectiveAt < *b.request.effectiveAt;
    });
    ArmSchedule();
    json document = ChangeJson(change);
    document["ok"] = true;
    document["scheduled"] = true;
    reply(document);
    Notify();
    return;
  }
  TookEffect(change);
  writeWaiters_.push_back({change, std::move(reply)});
  Kick();
  Notify();
}

void AgentCore::TookEffect(const Change& change) {
  std::vector<Change> superseded;
  std::erase_if(unconfirmed_, [&](const Change& earlier) {
    if (!SharesPanels(earlier.request, change.request)) return false;
    superseded.push_back(earlier);
    return true;
  });
  for (const Change& earlier : superseded) {
    try {
      Durably([&] {
        RecordChange(EventKind::kChangeSuperseded, earlier, {{"id", earlier.id}, {"by", change.id}}, LOG_INFO);
      });
    } catch (const std::exception& error) {
      Log(LOG_ERR, std::string("cannot record a superseded change: ") + error.what());
    }
  }
  for (auto waiter = writeWaiters_.begin(); waiter != writeWaiters_.end();) {
    if (!SharesPanels(waiter->change.request, change.request)) {
      ++waiter;
      continue;
    }
    json document = ChangeJson(waiter->change);
    document["ok"] = true;
    document["scheduled"] = false;
    document["verified"] = false;
    document["superseded_by"] = change.id;
    const Reply reply = std::move(waiter->reply);
    waiter = writeWaiters_.erase(waiter);
    reply(document);
  }
  unconfirmed_.push_back(change);
}

void AgentCore::Cancel(const std::string& id, const std::string& issuer, Reply reply) {
  const auto found = std::find_if(pending_.begin(), pending_.end(), [&id](const Change& c) { return c.id == id; });
  if (found == pending_.end()) {
    std::optional<Change> known;
    try {
      known = db_.ChangeById(id);
    } catch (const StoreError& error) {
      reply(station::agent_protocol::ErrorReply(error.what()));
      return;
    }
    reply(station::agent_protocol::ErrorReply(
        known ? "bad change " + id + ": it is " + StateName(known->state) + ", not pending"
              : "bad change " + id + ": no such change; `tarvo-cli schedule` lists the pending ones"));
    return;
  }
  Change change = *found;
  change.state = ChangeState::kCancelled;
  try {
    Durably([&] {
      db_.SetChangeState(change.number, ChangeState::kCancelled, std::nullopt);
      RecordChange(EventKind::kChangeCancelled, change, {{"id", id}, {"by", issuer}}, LOG_INFO);
    });
  } catch (const std::exception& error) {
    reply(station::agent_protocol::ErrorReply(std::string("not cancelled: ") + error.what()));
    return;
  }
  pending_.erase(found);
  ArmSchedule();
  json document = ChangeJson(change);
  document["ok"] = true;
  reply(document);
  Notify();
}

void AgentCore::Read(Reply reply) {
  readWaiters_.push_back(std::move(reply));
  Kick();
}

// Every change whose time has come, in order of their times, takes effect
// with a revision of its own (so a restart that finds them overdue together
// counts them as it counted them one by one); the newest is the one the sign
// is brought to, the ones before it only show through it (recorded as skipped).
void AgentCore::TakeDue() {
  const int64_t now = clock_.NowMs();
  const auto firstLater = std::find_if(pending_.begin(), pending_.end(),
                                       [now](const Change& c) { return *c.request.effectiveAt > now; });
  std::vector<Change> due(pending_.begin(), firstLater);
  pending_.erase(pending_.begin(), firstLater);
  ArmSchedule();
  if (due.empty()) return;
  for (Change& change : due) {
    desired_.Apply(change.request);
    change.state = ChangeState::kSkipped;
    change.stateRev = ++stateRev_;
    if (change.request.brightness) brightnessRev_ = stateRev_;
  }
  Change& newest = due.back();
  newest.state = ChangeState::kApplied;
  TookEffect(newest);
  // The sign first, the disk after: the changes are stored already (as
  // pending), so a crash before this commit only applies them again at the
  // start, and the frames go out at the change's time, not after an fsync.
  Kick();
  const DesiredState desired = desired_;
  const int64_t rev = stateRev_;
  const int64_t brightnessRev = brightnessRev_;
  const std::function<void()> store = [this, due, desired, rev, brightnessRev] {
    for (const Change& change : due) {
      db_.SetChangeState(change.number, change.state, change.stateRev);
      if (change.state == ChangeState::kSkipped) {
        RecordChange(EventKind::kChangeSkipped, change,
                     {{"id", change.id}, {"effective_at", station::FormatInstant(*change.request.effectiveAt)},
                      {"shown_through", due.back().id}},
                     LOG_NOTICE);
      }
    }
    // A later transaction may have stored a newer state already.
    if (db_.Value("state_rev").value_or(0).get<int64_t>() <= rev) {
      db_.SetValue("desired", DesiredJson(desired));
      db_.SetValue("state_rev", rev);
      db_.SetValue("brightness_rev", brightnessRev);
    }
    RecordChange(EventKind::kChangeDue, due.back(),
                 {{"id", due.back().id}, {"effective_at", station::FormatInstant(*due.back().request.effectiveAt)}},
                 LOG_INFO);
  };
  try {
    Durably(store);
  } catch (const std::exception& error) {
    // Kept for the next transaction; still pending on disk until then, so a
    // crash before it applies them again at the start.
    unstored_.push_back(store);
    Log(LOG_ERR, std::string("cannot record scheduled changes as applied: ") + error.what());
  }
  Notify();
}

void AgentCore::ArmSchedule() {
  if (pending_.empty()) {
    Disarm(scheduleTimer_);
    return;
  }
  Arm(loop_, scheduleTimer_, CLOCK_REALTIME, clock_.RealtimeUsecAt(*pending_.front().request.effectiveAt),
      &AgentCore::OnScheduleTimer, this);
}

// The next read of all ten panels an interval after the start of the last
// one, so the interval is the most a change of the sign waits to be seen.
void AgentCore::ArmVerify(uint64_t lastReadStartUsec) {
  Arm(loop_, verifyTimer_, CLOCK_MONOTONIC, lastReadStartUsec + config_.verifyIntervalS * 1000000ULL,
      &AgentCore::OnVerifyTimer, this);
}

void AgentCore::ArmRetry() {
  backoffMs_ = std::clamp(backoffMs_ * 2, kFirstBackoffMs, kLongestBackoffMs);
  Arm(loop_, retryTimer_, CLOCK_MONOTONIC, MonotonicIn(loop_, backoffMs_), &AgentCore::OnRetryTimer, this);
}

int AgentCore::OnScheduleTimer(sd_event_source*, uint64_t, void* self) {
  static_cast<AgentCore*>(self)->TakeDue();
  return 0;
}

int AgentCore::OnVerifyTimer(sd_event_source*, uint64_t, void* self) {
  auto* core = static_cast<AgentCore*>(self);
  Disarm(core->verifyTimer_);
  core->needVerify_ = true;
  core->Kick();
  return 0;
}

int AgentCore::OnRetryTimer(sd_event_source*, uint64_t, void* self) {
  auto* core = static_cast<AgentCore*>(self);
  Disarm(core->retryTimer_);
  core->Kick();
  return 0;
}

void AgentCore::OnClockJump(int64_t jumpMs) {
  Record(EventKind::kClockChanged, std::nullopt, {{"jump_ms", jumpMs}, {"now", station::FormatInstant(clock_.NowMs())}},
         LOG_NOTICE);
  TakeDue();
}

// Starts the next session when the worker is free and no backoff runs: one
// for a revision not yet verified, a verification, or a read. Every session
// reads all ten panels, so each of them can confirm what came before it.
void AgentCore::Kick() {
  if (worker_.Busy() || retryTimer_ != nullptr) return;
  const bool apply = !desired_.Empty() && (stateRev_ > verifiedRev_ || brightnessRev_ > brightnessDoneRev_);
  if (!apply && !needVerify_ && readWaiters_.empty()) return;
  Session& session = session_.emplace();
  session.rev = stateRev_;
  session.apply = apply;
  session.desired = desired_;
  // A change alone brings about what differs from the state last found and
  // every panel a change still to be confirmed names; a verification, a
  // read or fields still to be filled in read all ten.
  session.readAll = !apply || needVerify_ || !readWaiters_.empty() || desired_.Open();
  for (const auto& [address, request] : desired_.panels) {
    const auto found = verifiedDesired_.panels.find(address);
    if (found == verifiedDesired_.panels.end() || !(found->second == request)) session.scope.insert(address);
  }
  for (const Change& change : unconfirmed_) {
    for (const station::PanelRequest& request : change.request.panels) {
      if (session.scope.insert(request.address).second) session.readFirst.insert(request.address);
    }
  }
  session.readers.swap(readWaiters_);
  session.startedUsec = MonotonicIn(loop_, 0);
  if (session.readAll) needVerify_ = false;
  SignJob job;
  job.port = foundPort_.empty() ? config_.port : foundPort_;
  job.desired = desired_;
  job.readAll = session.readAll;
  job.scope = session.scope;
  job.readFirst = session.readFirst;
  job.write = apply || config_.drift == DriftMode::kHeal;
  if (brightnessRev_ > brightnessDoneRev_ && desired_.brightness) {
    job.brightness = desired_.brightness;
    session.brightnessRev = brightnessRev_;
  }
  auto result = std::make_shared<SignJobResult>();
  worker_.Start(
      [job, result] {
        try {
          *result = RunSignJob(job);
        } catch (const std::exception& error) {
          // Nothing leaves the worker thread; the loop hears of it as a failed session.
          result->problem = error.what();
        }
      },
      [this, result] {
        Session finished = std::move(*session_);
        session_.reset();
        Finished(finished, *result);
        Kick();
        Notify();
      });
}

void AgentCore::Finished(Session& session, const SignJobResult& result) {
  if (result.Failed()) {
    if (session.readAll) needVerify_ = true;
    try {
      PortFailed(result);
    } catch (const std::exception& error) {
      Log(LOG_ERR, "cannot record the port's state (" + result.problem + "): " + error.what());
    }
    AnswerWriters(session, result);
    AnswerReaders(session, result);
    return;
  }
  if (config_.port == "auto") foundPort_ = result.port;
  for (const auto& [address, record] : result.readback) readback_[address] = record;
  // Every panel the session was to bring about shows it, read back in this
  // session; and the brightness it sent echoed.
  const bool holds =
      std::all_of(session.desired.panels.begin(), session.desired.panels.end(),
                  [&](const auto& entry) {
                    if (!session.readAll && !session.scope.count(entry.first)) return true;
                    const auto shown = result.readback.find(entry.first);
                    return shown != result.readback.end() && shown->second &&
                           shown->second == session.desired.Target(entry.first, result.readback);
                  }) &&
      result.brightnessConfirmed.value_or(true);
  if (holds) {
    verifiedDesired_ = session.desired;
    verifiedDesired_.FillFrom(result.readback);
  }
  try {
    Durably([&] {
      if (portDown_) {
        Record(EventKind::kPortBack, RevIf(session.rev), {{"port", result.port}, {"device", result.device}},
               LOG_NOTICE);
      }
      db_.SetValue("readback", ReadbackJson(readback_));
      if (desired_.FillFrom(readback_)) db_.SetValue("desired", DesiredJson(desired_));
      if (session.brightnessRev && result.brightnessConfirmed.value_or(false)) {
        brightnessDoneRev_ = std::max(brightnessDoneRev_, *session.brightnessRev);
        db_.SetValue("brightness_done_rev", brightnessDoneRev_);
      }
      if (session.apply) {
        json detail = {{"port", result.port}, {"verified", holds}, {"panels", DriftJson(result)}};
        if (result.brightnessConfirmed)
          detail["brightness"] = {{"level", *session.desired.brightness}, {"verified", *result.brightnessConfirmed}};
        Record(EventKind::kApplied, RevIf(session.rev), detail, holds ? LOG_INFO : LOG_WARNING);
      } else {
        // What an apply found different is what it was asked to change: no drift.
        Verified(session, result, holds);
      }
      if (holds && session.rev > verifiedRev_) {
        verifiedRev_ = session.rev;
        db_.SetValue("verified_rev", verifiedRev_);
      }
      Confirm(session, result);
    });
  } catch (const std::exception& error) {
    Log(LOG_ERR, std::string("cannot record the sign's state: ") + error.what());
  }
  // A sign back from a port failure is looked at whole.
  if (portDown_ && !session.readAll) needVerify_ = true;
  portDown_ = false;
  portProblem_.clear();
  if (session.readAll) ArmVerify(session.startedUsec);
  // A session that reached the sign but left it unlike the state (a reply
  // lost, a write refused) is tried again with the port's backoff, not only at
  // the next verification; drift that is only reported is not.
  if (holds || !(session.apply || config_.drift == DriftMode::kHeal)) {
    backoffMs_ = 0;
  } else {
    if (session.readAll) needVerify_ = true;
    ArmRetry();
  }
  AnswerWriters(session, result);
  AnswerReaders(session, result);
}

// A change is verified by a session that began after it took effect and read
// back every panel it names as it asked; a cached read-back never counts.
void AgentCore::Confirm(const Session& session, const SignJobResult& result) {
  std::vector<Change> verified;
  std::erase_if(unconfirmed_, [&](const Change& change) {
    if (!change.stateRev || *change.stateRev > session.rev) return false;
    const bool shown = std::all_of(change.request.panels.begin(), change.request.panels.end(),
                                   [&](const station::PanelRequest& request) {
                                     const auto read = result.readback.find(request.address);
                                     return read != result.readback.end() && PanelShows(read->second, request);
                                   });
    const bool bright = !change.request.brightness ||
                        (session.brightnessRev && result.brightnessConfirmed.value_or(false) &&
                         session.desired.brightness == change.request.brightness);
    if (!shown || !bright) return false;
    verified.push_back(change);
    return true;
  });
  for (const Change& change : verified)
    RecordChange(EventKind::kChangeVerified, change, {{"id", change.id}, {"port", result.port}}, LOG_INFO);
}

void AgentCore::PortFailed(const SignJobResult& result) {
  portDown_ = true;
  foundPort_.clear();
  // The next try first: a problem that cannot be stored must not end the tries.
  ArmRetry();
  if (result.problem == portProblem_) return;
  portProblem_ = result.problem;
  json detail = {{"port", result.port.empty() ? config_.port : result.port},
                 {"device", result.device},
                 {"problem", result.problem}};
  if (!result.holder.empty()) detail["holder"] = result.holder;
  lastProblem_ = {{"at", station::FormatInstant(clock_.NowMs())}, {"problem", result.problem}};
  Durably([&] {
    db_.SetValue("last_problem", lastProblem_);
    Record(PortEventKind(result), RevIf(stateRev_), detail, LOG_WARNING);
  });
}

// A verification: what differed from the desired state is drift; "ok" only
// when every panel of the state was read back as it should be.
void AgentCore::Verified(const Session& session, const SignJobResult& result, bool holds) {
  const bool wasOk = lastVerification_.is_object() && lastVerification_.value("ok", false);
  const bool drifted = !result.panels.empty();
  lastVerification_ = {{"at", station::FormatInstant(clock_.NowMs())},
                       {"rev", session.rev},
                       {"ok", holds && !drifted},
                       {"drift", result.panels.size()},
                       {"healed", drifted && holds}};
  db_.SetValue("last_verification", lastVerification_);
  if (session.desired.Empty()) return;
  if (!drifted) {
    if (holds && !wasOk) Record(EventKind::kVerificationOk, RevIf(session.rev), {{"port", result.port}}, LOG_INFO);
    if (!holds)
      Record(EventKind::kVerificationFailed, RevIf(session.rev), {{"panels", DriftJson(result)}}, LOG_ERR);
    return;
  }
  driftCount_ += static_cast<int64_t>(result.panels.size());
  db_.SetValue("drift_count", driftCount_);
  Record(EventKind::kDriftFound, RevIf(session.rev), {{"port", result.port}, {"panels", DriftJson(result)}},
         LOG_WARNING);
  if (config_.drift == DriftMode::kHeal) {
    Record(holds ? EventKind::kDriftHealed : EventKind::kVerificationFailed, RevIf(session.rev),
           {{"panels", DriftJson(result)}}, holds ? LOG_NOTICE : LOG_ERR);
  }
}

// Every write that took effect before the session began hears its outcome now.
void AgentCore::AnswerWriters(const Session& session, const SignJobResult& result) {
  std::vector<WriteWaiter> answered;
  std::erase_if(writeWaiters_, [&](WriteWaiter& waiter) {
    if (*waiter.change.stateRev > session.rev) return false;
    answered.push_back(std::move(waiter));
    return true;
  });
  for (WriteWaiter& waiter : answered) waiter.reply(WriteReply(waiter.change, result));
}

void AgentCore::AnswerReaders(Session& session, const SignJobResult& result) {
  for (Reply& reader : session.readers) {
    if (result.Failed()) {
      reader(station::agent_protocol::ErrorReply(result.problem));
      continue;
    }
    json list = json::array();
    for (const auto& [address, record] : result.readback) list.push_back(station::PanelJson(address, record));
    reader({{"ok", true}, {"port", result.port}, {"device", result.device}, {"panels", list}});
  }
}

json AgentCore::WriteReply(const Change& change, const SignJobResult& result) const {
  const bool confirmed = std::none_of(unconfirmed_.begin(), unconfirmed_.end(),
                                      [&change](const Change& c) { return c.number == change.number; });
  json document = ChangeJson(change);
  document["ok"] = true;
  document["scheduled"] = false;
  document["port"] = result.port;
  document["device"] = result.device;
  document["panels"] = PanelOutcomesJson(change.request, result);
  // The brightness as the outcome of a write: its level and whether the sign echoed it.
  document.erase("brightness");
  if (change.request.brightness) {
    document["brightness"] = {{"level", *change.request.brightness},
                              {"verified", confirmed && result.brightnessConfirmed.value_or(false)}};
  }
  document["verified"] = confirmed && !result.Failed();
  // The change stays the desired state; the agent keeps trying.
  if (result.Failed()) document["problem"] = result.problem;
  return document;
}

json AgentCore::Status() const {
  json pending = json::array();
  for (const Change& change : pending_) pending.push_back(ChangeJson(change));
  return {{"ok", true},
          {"station", config_.station},
          {"port", config_.port},
          {"port_in_use", foundPort_.empty() ? config_.port : foundPort_},
          {"port_state", portDown_ ? json(portProblem_) : json("ok")},
          {"rev", stateRev_},
          {"verified_rev", verifiedRev_},
          {"panels", DesiredPanelsJson(desired_, readback_)},
          {"brightness", desired_.brightness ? json(*desired_.brightness) : json()},
          {"pending", pending},
          {"last_verification", lastVerification_},
          {"drift_count", driftCount_},
          {"last_problem", lastProblem_},
          {"busy", worker_.Busy()},
          // What becomes of a change made behind the agent's back (tarvo-cli --direct).
          {"drift", config_.drift == DriftMode::kHeal ? "heal" : "report"},
          {"verify_interval_s", config_.verifyIntervalS}};
}

json AgentCore::Schedule() const {
  json pending = json::array();
  for (const Change& change : pending_) pending.push_back(ChangeJson(change));
  return {{"ok", true}, {"pending", pending}};
}

json AgentCore::History(int64_t since) {
  json events = json::array();
  for (const Event& event : db_.Events(since, kHistoryLimit)) events.push_back(EventJson(event));
  return {{"ok", true}, {"events", events}};
}

std::vector<Event> AgentCore::EventsAfter(int64_t afterId, int limit) { return db_.EventsAfter(afterId, limit); }

std::string AgentCore::StatusLine() const {
  std::string line = "rev " + std::to_string(stateRev_) + (verifiedRev_ >= stateRev_ ? " verified" : " applying") +
                     ", " + std::to_string(pending_.size()) + " pending";
  if (portDown_) line += "; " + portProblem_;
  return line;
}

}  // namespace agent

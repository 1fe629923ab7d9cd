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

const char* PortEventKind(const SignJobResult& result) {
  if (!result.portState) return "sign silent";
  if (result.portState == station::PortState::kBusy) return "port held";
  if (result.portState == station::PortState::kNoDevice) return "port lost";
  return "port failed";
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
  const auto value = [this](const char* key) { return db_.Value(key); };
  if (auto desired = value("desired")) desired_ = DesiredFromJson(*desired);
  if (auto readback = value("readback")) readback_ = ReadbackFromJson(*readback);
  currentRev_ = value("current_rev").value_or(0).get<int64_t>();
  verifiedRev_ = value("verified_rev").value_or(0).get<int64_t>();
  brightnessRev_ = value("brightness_rev").value_or(0).get<int64_t>();
  brightnessDoneRev_ = value("brightness_done_rev").value_or(0).get<int64_t>();
  driftCount_ = value("drift_count").value_or(0).get<int64_t>();
  lastVerification_ = value("last_verification").value_or(json());
  lastProblem_ = value("last_problem").value_or(json());
  pending_ = db_.Changes(ChangeState::kPending);
}

void AgentCore::Record(const std::string& kind, std::optional<int64_t> rev, json detail, int priority) {
  Event event{0, clock_.NowMs(), kind, rev, std::move(detail)};
  Log(priority, kind + (rev ? " rev " + std::to_string(*rev) : "") + ": " + station::Dump(event.detail));
  try {
    event.id = db_.AddEvent(event);
  } catch (const StoreError& error) {
    // The journal has the event; the agent goes on keeping the sign right.
    Log(LOG_ERR, "cannot record the event in the history: " + std::string(error.what()));
  }
  for (AgentObserver* observer : observers_) observer->OnEvent(event);
}

void AgentCore::Durably(const std::function<void()>& body) {
  db_.Begin();
  try {
    body();
    db_.Commit();
  } catch (...) {
    db_.Rollback();
    throw;
  }
}

void AgentCore::Start() {
  Record("agent started", currentRev_ ? std::optional(currentRev_) : std::nullopt,
         {{"station", config_.station}, {"port", config_.port}, {"pending", pending_.size()}}, LOG_INFO);
  TakeDue();
  if (currentRev_ > verifiedRev_ || brightnessRev_ > brightnessDoneRev_) needApply_ = true;
  needVerify_ = true;
  Kick();
}

void AgentCore::Stopping() { Record("agent stopped", std::nullopt, json::object(), LOG_INFO); }

void AgentCore::Submit(const ChangeRequest& request, Reply reply) {
  Change change;
  change.request = request;
  change.requestedAt = clock_.NowMs();
  const bool scheduled = request.effectiveAt && *request.effectiveAt > change.requestedAt;
  change.state = scheduled ? ChangeState::kPending : ChangeState::kApplied;
  // What the loop holds goes back with the transaction if it fails.
  const DesiredState desiredBefore = desired_;
  const int64_t currentBefore = currentRev_;
  const int64_t brightnessBefore = brightnessRev_;
  try {
    change.id = NewChangeId();
    Durably([&] {
      change.rev = db_.LastRev() + 1;
      db_.InsertChange(change);
      if (scheduled) {
        Record("change scheduled", change.rev, ChangeJson(change), LOG_INFO);
        return;
      }
      desired_.Apply(request);
      currentRev_ = change.rev;
      if (request.brightness) brightnessRev_ = change.rev;
      db_.SetValue("desired", DesiredJson(desired_));
      db_.SetValue("current_rev", currentRev_);
      db_.SetValue("brightness_rev", brightnessRev_);
      Record("change accepted", change.rev, ChangeJson(change), LOG_INFO);
    });
  } catch (const std::exception& error) {
    desired_ = desiredBefore;
    currentRev_ = currentBefore;
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
    return;
  }
  needApply_ = true;
  writeWaiters_.push_back({change.rev, change.id, request, std::move(reply)});
  Kick();
}

void AgentCore::Cancel(const std::string& id, const std::string& issuer, Reply reply) {
  const auto found = std::find_if(pending_.begin(), pending_.end(), [&id](const Change& c) { return c.id == id; });
  if (found == pending_.end()) {
    const std::optional<Change> known = db_.ChangeById(id);
    reply(station::agent_protocol::ErrorReply(
        known ? "bad change " + id + ": it is " + StateName(known->state) + ", not pending"
              : "bad change " + id + ": no such change; `tarvo-cli schedule` lists the pending ones"));
    return;
  }
  Change change = *found;
  change.state = ChangeState::kCancelled;
  try {
    Durably([&] {
      db_.SetChangeState(change.rev, ChangeState::kCancelled);
      Record("change cancelled", change.rev, {{"id", id}, {"by", issuer}}, LOG_INFO);
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
}

void AgentCore::Read(Reply reply) {
  readWaiters_.push_back(std::move(reply));
  Kick();
}

// Every change whose time has come, in order of their times: the newest is
// applied, the ones before it only show through it (recorded as skipped).
void AgentCore::TakeDue() {
  const int64_t now = clock_.NowMs();
  const auto firstLater = std::find_if(pending_.begin(), pending_.end(),
                                       [now](const Change& c) { return *c.request.effectiveAt > now; });
  const std::vector<Change> due(pending_.begin(), firstLater);
  pending_.erase(pending_.begin(), firstLater);
  ArmSchedule();
  if (due.empty()) return;
  for (const Change& change : due) {
    desired_.Apply(change.request);
    if (change.request.brightness) brightnessRev_ = change.rev;
  }
  currentRev_ = due.back().rev;
  needApply_ = true;
  // The sign first, the disk after: the changes are stored already (as
  // pending), so a crash before this commit only applies them again at the
  // start, and the frames go out at the change's time, not after an fsync.
  Kick();
  try {
    Durably([&] {
      for (const Change& change : due) {
        const bool newest = &change == &due.back();
        db_.SetChangeState(change.rev, newest ? ChangeState::kApplied : ChangeState::kSkipped);
        if (!newest) {
          Record("change skipped", change.rev,
                 {{"id", change.id}, {"effective_at", station::FormatInstant(*change.request.effectiveAt)},
                  {"shown_through_rev", due.back().rev}},
                 LOG_NOTICE);
        }
      }
      db_.SetValue("desired", DesiredJson(desired_));
      db_.SetValue("current_rev", currentRev_);
      db_.SetValue("brightness_rev", brightnessRev_);
      Record("change due", currentRev_,
             {{"id", due.back().id}, {"effective_at", station::FormatInstant(*due.back().request.effectiveAt)}},
             LOG_INFO);
    });
  } catch (const std::exception& error) {
    // Still pending on disk: the next start applies them again.
    Log(LOG_ERR, std::string("cannot record scheduled changes as applied: ") + error.what());
  }
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
  Record("clock changed", std::nullopt, {{"jump_ms", jumpMs}, {"now", station::FormatInstant(clock_.NowMs())}},
         LOG_NOTICE);
  TakeDue();
}

// Starts the next piece of sign work when the worker is free and no backoff
// runs: an apply before a verification, a verification for a read.
void AgentCore::Kick() {
  if (worker_.Busy() || retryTimer_ != nullptr) return;
  SignJob job;
  job.port = foundPort_.empty() ? config_.port : foundPort_;
  job.desired = desired_;
  job.lastReadback = readback_;
  JobKind kind = JobKind::kApply;
  std::optional<int64_t> brightnessRev;
  if (needApply_ && !desired_.Empty()) {
    job.readAll = needVerify_ || !readWaiters_.empty() || desired_.Open();
    if (brightnessRev_ > brightnessDoneRev_) {
      job.brightness = desired_.brightness;
      brightnessRev = brightnessRev_;
    }
    needApply_ = false;
  } else if (needVerify_ || !readWaiters_.empty()) {
    kind = JobKind::kVerify;
    job.readAll = true;
    job.write = config_.drift == DriftMode::kHeal;
  } else {
    return;
  }
  if (job.readAll) needVerify_ = false;
  const int64_t rev = currentRev_;
  const uint64_t started = MonotonicIn(loop_, 0);
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
      [this, kind, rev, brightnessRev, result, started] {
        Finished(kind, rev, brightnessRev, *result);
        if (result->readAll && !result->Failed()) ArmVerify(started);
        if (!result->Failed()) Unverified(kind, *result);
        Kick();
      });
}

void AgentCore::Finished(JobKind kind, int64_t rev, std::optional<int64_t> brightnessRev,
                         const SignJobResult& result) {
  try {
    if (result.Failed()) {
      if (kind == JobKind::kApply) needApply_ = true;
      if (result.readAll || kind == JobKind::kVerify) needVerify_ = true;
      PortFailed(result);
    } else {
      if (portDown_) {
        Record("port back", rev ? std::optional(rev) : std::nullopt, {{"port", result.port}, {"device", result.device}},
               LOG_NOTICE);
        portDown_ = false;
        portProblem_.clear();
        backoffMs_ = 0;
        if (!result.readAll) needVerify_ = true;
      }
      if (config_.port == "auto") foundPort_ = result.port;
      Durably([&] {
        for (const auto& [address, record] : result.readback) readback_[address] = record;
        if (!result.readback.empty()) db_.SetValue("readback", ReadbackJson(readback_));
        if (desired_.FillFrom(readback_)) db_.SetValue("desired", DesiredJson(desired_));
        if (brightnessRev && result.brightnessConfirmed.value_or(false)) {
          brightnessDoneRev_ = *brightnessRev;
          db_.SetValue("brightness_done_rev", brightnessDoneRev_);
        }
        if (kind == JobKind::kApply) {
          json detail = {{"port", result.port}, {"verified", result.AllVerified()}, {"panels", DriftJson(result)}};
          if (result.brightnessConfirmed)
            detail["brightness"] = {{"level", *desired_.brightness}, {"verified", *result.brightnessConfirmed}};
          Record("applied", rev, detail, result.AllVerified() ? LOG_INFO : LOG_WARNING);
        }
        // What an apply found different is what it was asked to change: no drift.
        if (kind == JobKind::kVerify) Verified(result);
        if (result.AllVerified() && (kind == JobKind::kVerify || !brightnessRev || result.brightnessConfirmed)) {
          verifiedRev_ = std::max(verifiedRev_, rev);
          db_.SetValue("verified_rev", verifiedRev_);
        }
      });
    }
  } catch (const std::exception& error) {
    Log(LOG_ERR, std::string("cannot record the sign's state: ") + error.what());
  }
  AnswerWaiters(rev, result);
}

// A session that reached the sign but left a panel unverified (a reply lost,
// a write refused) is tried again with the port's backoff, not only at the
// next verification; drift that is only reported is not.
void AgentCore::Unverified(JobKind kind, const SignJobResult& result) {
  const bool heals = kind == JobKind::kApply || config_.drift == DriftMode::kHeal;
  if (result.AllVerified() || !heals) {
    backoffMs_ = 0;
    return;
  }
  if (kind == JobKind::kApply) needApply_ = true;
  if (kind == JobKind::kVerify) needVerify_ = true;
  ArmRetry();
}

void AgentCore::PortFailed(const SignJobResult& result) {
  portDown_ = true;
  foundPort_.clear();
  if (result.problem != portProblem_) {
    portProblem_ = result.problem;
    json detail = {{"port", result.port.empty() ? config_.port : result.port},
                   {"device", result.device},
                   {"problem", result.problem}};
    if (!result.holder.empty()) detail["holder"] = result.holder;
    lastProblem_ = {{"at", station::FormatInstant(clock_.NowMs())}, {"problem", result.problem}};
    db_.SetValue("last_problem", lastProblem_);
    Record(PortEventKind(result), currentRev_ ? std::optional(currentRev_) : std::nullopt, detail, LOG_WARNING);
  }
  ArmRetry();
}

// A read of all ten panels: what differed from the desired state is drift.
void AgentCore::Verified(const SignJobResult& result) {
  const bool wasOk = lastVerification_.is_object() && lastVerification_.value("ok", false);
  const bool ok = result.panels.empty();
  lastVerification_ = {{"at", station::FormatInstant(clock_.NowMs())},
                       {"rev", currentRev_},
                       {"ok", ok},
                       {"drift", result.panels.size()},
                       {"healed", !ok && result.AllVerified()}};
  db_.SetValue("last_verification", lastVerification_);
  if (desired_.Empty()) return;
  if (ok) {
    if (!wasOk) Record("verification ok", currentRev_, {{"port", result.port}}, LOG_INFO);
    return;
  }
  driftCount_ += static_cast<int64_t>(result.panels.size());
  db_.SetValue("drift_count", driftCount_);
  Record("drift found", currentRev_, {{"port", result.port}, {"panels", DriftJson(result)}}, LOG_WARNING);
  if (config_.drift == DriftMode::kHeal) {
    Record(result.AllVerified() ? "drift healed" : "verification failed", currentRev_,
           {{"panels", DriftJson(result)}}, result.AllVerified() ? LOG_NOTICE : LOG_ERR);
  }
}

void AgentCore::AnswerWaiters(int64_t rev, const SignJobResult& result) {
  std::vector<WriteWaiter> answered;
  for (auto waiter = writeWaiters_.begin(); waiter != writeWaiters_.end();) {
    if (waiter->rev <= rev) {
      answered.push_back(std::move(*waiter));
      waiter = writeWaiters_.erase(waiter);
    } else {
      ++waiter;
    }
  }
  for (WriteWaiter& waiter : answered) waiter.reply(WriteReply(waiter, result));
  if (!result.readAll && !result.Failed()) return;
  std::vector<Reply> readers;
  readers.swap(readWaiters_);
  for (Reply& reader : readers) {
    if (result.Failed()) {
      reader(station::agent_protocol::ErrorReply(result.problem));
    } else {
      reader({{"ok", true}, {"port", result.port}, {"device", result.device}, {"panels", [&] {
                json list = json::array();
                for (const auto& [address, record] : result.readback)
                  list.push_back(station::PanelJson(address, record));
                return list;
              }()}});
    }
  }
}

json AgentCore::WriteReply(const WriteWaiter& waiter, const SignJobResult& result) const {
  json document = {{"ok", true},
                   {"id", waiter.id},
                   {"rev", waiter.rev},
                   {"scheduled", false},
                   {"port", result.port},
                   {"device", result.device},
                   {"panels", PanelOutcomesJson(waiter.request, result, desired_, readback_)}};
  bool verified = !result.Failed();
  for (const json& panel : document["panels"]) verified = verified && panel["verified"].get<bool>();
  if (waiter.request.brightness) {
    const bool echoed = result.brightnessConfirmed.value_or(brightnessDoneRev_ >= waiter.rev);
    document["brightness"] = {{"level", *waiter.request.brightness}, {"verified", echoed}};
    verified = verified && echoed;
  }
  document["verified"] = verified;
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
          {"rev", currentRev_},
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

std::string AgentCore::StatusLine() const {
  std::string line = "rev " + std::to_string(currentRev_) + (verifiedRev_ >= currentRev_ ? " verified" : " applying") +
                     ", " + std::to_string(pending_.size()) + " pending";
  if (portDown_) line += "; " + portProblem_;
  return line;
}

}  // namespace agent

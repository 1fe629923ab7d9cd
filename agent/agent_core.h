#pragma once
// The agent's core: the desired state and its revisions, the schedule of
// changes, the applier and verifier (through the sign worker) and the
// history. It knows nothing of the control socket: any source of changes
// (the socket, later a head office) submits through Submit/Cancel, and
// observers hear every event as it is recorded.

#include <systemd/sd-event.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "agent/agent_clock.h"
#include "agent/agent_config.h"
#include "agent/change.h"
#include "agent/desired_state.h"
#include "agent/sign_job.h"
#include "agent/sign_worker.h"
#include "agent/state_db.h"
#include "station/event_kind.h"

namespace agent {

class AgentObserver {
 public:
  virtual ~AgentObserver() = default;
  // Each event once it is committed to the history (accepted, scheduled,
  // applied, drift, port held, ...); its id is the history's row. Status()
  // tells the state after it.
  virtual void OnEvent(const Event& event) = 0;
  // The state changed (with or without an event): after every session,
  // change and cancel.
  virtual void OnStatus() {}
};

// Gets one reply document: {"ok": true, ...} or {"ok": false, "error": ...}.
using Reply = std::function<void(const nlohmann::json&)>;

class AgentCore {
 public:
  // Loads the state from the database; nothing talks to the sign before Start.
  AgentCore(sd_event* loop, const AgentConfig& config, StateDb& db);
  ~AgentCore();
  AgentCore(const AgentCore&) = delete;
  AgentCore& operator=(const AgentCore&) = delete;

  // Records the start, applies overdue changes, reads the sign.
  void Start();
  void Stopping();

  // A change is committed before reply hears of it. One for now is replied to
  // after the first session with the sign that began after it took effect:
  // verified when that session read back every panel it names as it asked,
  // superseded when a later change took its panels first, else not verified.
  // A scheduled one is replied to once stored.
  void Submit(const ChangeRequest& request, Reply reply);
  void Cancel(const std::string& id, const std::string& issuer, Reply reply);
  // A read-back of all ten panels by a session that begins after the request.
  void Read(Reply reply);
  nlohmann::json Status() const;
  nlohmann::json Schedule() const;
  nlohmann::json History(int64_t since);
  // What a listener that last heard event afterId missed, oldest first.
  std::vector<Event> EventsAfter(int64_t afterId, int limit);

  void AddObserver(AgentObserver* observer) { observers_.push_back(observer); }
  // Puts an event of another source (a head office's refused document) in the history.
  void Record(station::EventKind kind, std::optional<int64_t> rev, nlohmann::json detail, int priority);
  // What the sign showed at the last session; for reports, never a confirmation.
  const Readback& LastReadback() const { return readback_; }
  // One line for the service manager: revision, port and the last problem.
  std::string StatusLine() const;

 private:
  struct WriteWaiter {
    Change change;
    Reply reply;
  };
  // What a session was started with: the state it was to bring about.
  struct Session {
    int64_t rev = 0;
    bool apply = false;  // a revision not yet verified: written whatever the drift mode
    DesiredState desired;
    std::optional<int64_t> brightnessRev;  // when it sent the brightness of this revision
    std::vector<Reply> readers;
    uint64_t startedUsec = 0;
  };

  void Load();
  // Runs body inside one transaction (after any store left over from a
  // failed one); a store failure rolls back and is rethrown. Events recorded
  // inside reach the observers only after the commit.
  void Durably(const std::function<void()>& body);
  void RecordEvent(Event event, int priority);
  // Logs a stored event and tells the observers.
  void Heard(const Event& event, int priority);
  void RecordChange(station::EventKind kind, const Change& change, nlohmann::json detail, int priority);
  void TakeDue();
  // A change took effect: earlier unconfirmed changes on its panels are superseded.
  void TookEffect(const Change& change);
  void ArmSchedule();
  void ArmVerify(uint64_t lastReadStartUsec);
  void ArmRetry();
  void OnClockJump(int64_t jumpMs);
  void Kick();
  void Finished(Session& session, const SignJobResult& result);
  void PortFailed(const SignJobResult& result);
  void Verified(const Session& session, const SignJobResult& result, bool holds);
  void Confirm(const Session& session, const SignJobResult& result);
  void AnswerWriters(const Session& session, const SignJobResult& result);
  void AnswerReaders(Session& session, const SignJobResult& result);
  void Notify();
  nlohmann::json WriteReply(const Change& change, const SignJobResult& result) const;

  static int OnScheduleTimer(sd_event_source* source, uint64_t usec, void* self);
  static int OnVerifyTimer(sd_event_source* source, uint64_t usec, void* self);
  static int OnRetryTimer(sd_event_source* source, uint64_t usec, void* self);

  sd_event* loop_;
  AgentConfig config_;
  StateDb& db_;
  AgentClock clock_;
  SignWorker worker_;
  std::vector<AgentObserver*> observers_;

  DesiredState desired_;
  int64_t stateRev_ = 0;           // grows by one each time a change takes effect
  int64_t verifiedRev_ = 0;        // the latest revision a session read back wholly
  int64_t brightnessRev_ = 0;      // the revision that set the brightness wanted
  int64_t brightnessDoneRev_ = 0;  // the one whose brightness the sign echoed
  Readback readback_;
  std::vector<Change> pending_;
  std::vector<Change> unconfirmed_;  // took effect, neither verified nor superseded yet
  nlohmann::json lastVerification_;
  int64_t driftCount_ = 0;
  nlohmann::json lastProblem_;

  bool needVerify_ = false;
  std::optional<Session> session_;  // the one on the worker
  std::vector<WriteWaiter> writeWaiters_;
  std::vector<Reply> readWaiters_;
  std::string foundPort_;  // the port "auto" found, until it fails
  bool portDown_ = false;
  std::string portProblem_;  // recorded once per problem
  int backoffMs_ = 0;

  bool inTransaction_ = false;
  std::vector<std::pair<Event, int>> uncommitted_;  // recorded, waiting for the commit
  // Stores that a failed transaction left undone (a full disk when changes
  // came due): done first in the next transaction, so what the sign was given
  // is what the database holds.
  std::vector<std::function<void()>> unstored_;

  sd_event_source* scheduleTimer_ = nullptr;
  sd_event_source* verifyTimer_ = nullptr;
  sd_event_source* retryTimer_ = nullptr;
};

}  // namespace agent

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

namespace agent {

class AgentObserver {
 public:
  virtual ~AgentObserver() = default;
  // Each event once it is in the history (accepted, scheduled, applied,
  // drift, port held, ...). Status() tells the state after it.
  virtual void OnEvent(const Event& event) = 0;
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

  // A change is committed before reply hears of it. One for now is applied and
  // replied to once verified (or failed); a scheduled one once stored.
  void Submit(const ChangeRequest& request, Reply reply);
  void Cancel(const std::string& id, const std::string& issuer, Reply reply);
  // A fresh read-back of all ten panels.
  void Read(Reply reply);
  nlohmann::json Status() const;
  nlohmann::json Schedule() const;
  nlohmann::json History(int64_t since);

  void AddObserver(AgentObserver* observer) { observers_.push_back(observer); }
  // Puts an event of another source (a head office's refused document) in the history.
  void Record(const std::string& kind, std::optional<int64_t> rev, nlohmann::json detail, int priority);
  const Readback& LastReadback() const { return readback_; }
  // The agent's wall clock (tests may offset it), milliseconds since the epoch.
  int64_t NowMs() const { return clock_.NowMs(); }
  // One line for the service manager: revision, port and the last problem.
  std::string StatusLine() const;

 private:
  enum class JobKind { kApply, kVerify };
  struct WriteWaiter {
    int64_t rev;
    std::string id;
    ChangeRequest request;
    Reply reply;
  };

  void Load();
  // Runs body inside one transaction; a store failure rolls back and is rethrown.
  void Durably(const std::function<void()>& body);
  void TakeDue();
  void ArmSchedule();
  void ArmVerify(uint64_t lastReadStartUsec);
  void ArmRetry();
  void OnClockJump(int64_t jumpMs);
  void Kick();
  void Finished(JobKind kind, int64_t rev, std::optional<int64_t> brightnessRev, const SignJobResult& result);
  void PortFailed(const SignJobResult& result);
  void Unverified(JobKind kind, const SignJobResult& result);
  void Verified(const SignJobResult& result);
  void AnswerWaiters(int64_t rev, const SignJobResult& result);
  nlohmann::json WriteReply(const WriteWaiter& waiter, const SignJobResult& result) const;

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
  int64_t currentRev_ = 0;
  int64_t verifiedRev_ = 0;        // the revision last seen wholly on the sign
  int64_t brightnessRev_ = 0;      // the revision that set the brightness wanted
  int64_t brightnessDoneRev_ = 0;  // the one whose brightness the sign echoed
  Readback readback_;
  std::vector<Change> pending_;
  nlohmann::json lastVerification_;
  int64_t driftCount_ = 0;
  nlohmann::json lastProblem_;

  bool needApply_ = false;
  bool needVerify_ = false;
  std::vector<WriteWaiter> writeWaiters_;
  std::vector<Reply> readWaiters_;
  std::string foundPort_;  // the port "auto" found, until it fails
  bool portDown_ = false;
  std::string portProblem_;  // recorded once per problem
  int backoffMs_ = 0;

  sd_event_source* scheduleTimer_ = nullptr;
  sd_event_source* verifyTimer_ = nullptr;
  sd_event_source* retryTimer_ = nullptr;
};

}  // namespace agent

#pragma once
// What must hold of tarvo-agent, kept by the test from what it asked, what it
// was answered, what the sign said on its line and what the history holds;
// none of the agent's own code. Every price a run asks for is its own, so a
// price names the request it came from.

#include <cstdint>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "protocol/sign_link.h"

namespace tarvo::test {

using SignPanelsWanted = std::map<uint8_t, sign_link::PanelRecord>;

struct AskedChange {
  std::string price;  // four price characters: the request's own
  SignPanelsWanted panels;
  std::optional<int64_t> effectiveAt;  // ms since the epoch; none: now
  int64_t sentMs = 0;
  int killsAtSend = 0;
};

class AgentModel {
 public:
  // The sign's reply for a panel, as it went out on the line (any thread).
  void SignSaid(int64_t atMs, uint8_t address, const sign_link::PanelRecord& record);
  // The agent was killed: requests in flight may go unanswered.
  void Killed();
  int Kills() const;

  // A request's reply ("" none within the bound): check 4, and what check 1 looks at.
  void Answered(const AskedChange& asked, const std::string& replyLine, int64_t repliedMs);
  void Cancelled(const std::string& id, const std::string& replyLine);
  void StatusSeen(const nlohmann::json& status);  // check 2

  // Checks 1, 2, 3 and 6 against the whole history; the sign should show
  // the result (check 5).
  SignPanelsWanted CheckHistory(const nlohmann::json& events);

  void Violation(const std::string& what);
  std::vector<std::string> Violations() const;

 private:
  mutable std::mutex mutex_;
  struct Said {
    int64_t atMs;
    uint8_t address;
    sign_link::PanelRecord record;
  };
  struct VerifiedReply {
    AskedChange asked;
    int64_t repliedMs;
    std::string replyLine;
  };
  void CheckVerified();
  std::vector<Said> said_;
  std::vector<VerifiedReply> verified_;
  int kills_ = 0;
  int64_t highestRev_ = 0;
  std::map<std::string, AskedChange> byPrice_;
  std::map<std::string, std::string> idOfPrice_;   // for requests the agent said it stored
  std::vector<std::string> refusedPrices_;          // not stored: no event may name them
  std::vector<std::string> unansweredPrices_;       // killed in flight: stored or not
  std::vector<std::string> cancelledIds_;
  std::vector<std::string> violations_;
};

}  // namespace tarvo::test

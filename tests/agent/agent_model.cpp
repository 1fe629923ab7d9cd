#include "tests/agent/agent_model.h"

#include <algorithm>

#include "station/panel_request.h"
#include "station/utc_instant.h"

namespace tarvo::test {

namespace {

using nlohmann::json;

constexpr int64_t kStampSlackMs = 1000;

std::string PriceOf(const json& panel) {
  const std::optional<std::string> price = station::PriceCharacters(panel.value("price", std::string()));
  return price.value_or("");
}

}  // namespace

void AgentModel::SignSaid(int64_t atMs, uint8_t address, const sign_link::PanelRecord& record) {
  std::lock_guard lock(mutex_);
  said_.push_back({atMs, address, record});
}

void AgentModel::Killed() {
  std::lock_guard lock(mutex_);
  ++kills_;
}

int AgentModel::Kills() const {
  std::lock_guard lock(mutex_);
  return kills_;
}

void AgentModel::Violation(const std::string& what) {
  std::lock_guard lock(mutex_);
  violations_.push_back(what);
}

std::vector<std::string> AgentModel::Violations() const {
  std::lock_guard lock(mutex_);
  return violations_;
}

void AgentModel::Answered(const AskedChange& asked, const std::string& replyLine, int64_t repliedMs) {
  std::lock_guard lock(mutex_);
  byPrice_[asked.price] = asked;
  const std::string what = "the request for " + asked.price;
  if (replyLine.empty()) {
    // 4: only a killed agent leaves a request without its reply.
    if (kills_ == asked.killsAtSend) violations_.push_back(what + " got no reply");
    unansweredPrices_.push_back(asked.price);
    return;
  }
  if (std::count(replyLine.begin(), replyLine.end(), '\n') != 1)
    violations_.push_back(what + " got more than one reply: " + replyLine);
  const json reply = json::parse(replyLine, nullptr, false);
  if (!reply.is_object() || !reply.value("ok", false)) {
    refusedPrices_.push_back(asked.price);
    return;
  }
  idOfPrice_[asked.price] = reply.value("id", "");
  // Checked at the end: the simulator's account of its line may come a
  // moment after the agent's reply.
  if (reply.value("verified", false)) verified_.push_back({asked, repliedMs, replyLine});
}

// 1: every panel a verified reply names was read back as asked, after it was asked.
void AgentModel::CheckVerified() {
  for (const VerifiedReply& verified : verified_) {
    for (const auto& [address, record] : verified.asked.panels) {
      // The simulator stamps an answer once its write returned: on a busy
      // machine that may be a moment after the agent had it and replied.
      const bool seen = std::any_of(said_.begin(), said_.end(), [&](const Said& s) {
        return s.address == address && s.record == record && s.atMs >= verified.asked.sentMs &&
               s.atMs <= verified.repliedMs + kStampSlackMs;
      });
      if (!seen)
        violations_.push_back("the request for " + verified.asked.price + " was verified, but panel " +
                              std::to_string(address) + " never read back as asked: " + verified.replyLine);
    }
  }
}

void AgentModel::Cancelled(const std::string& id, const std::string& replyLine) {
  const json reply = json::parse(replyLine, nullptr, false);
  std::lock_guard lock(mutex_);
  if (reply.is_object() && reply.value("ok", false)) cancelledIds_.push_back(id);
}

void AgentModel::StatusSeen(const json& status) {
  if (!status.is_object() || !status.contains("rev")) return;
  std::lock_guard lock(mutex_);
  const int64_t rev = status["rev"].get<int64_t>();
  if (rev < highestRev_)
    violations_.push_back("the state revision went back from " + std::to_string(highestRev_) + " to " +
                          std::to_string(rev));
  highestRev_ = std::max(highestRev_, rev);
}

SignPanelsWanted AgentModel::CheckHistory(const json& events) {
  std::lock_guard lock(mutex_);
  CheckVerified();
  SignPanelsWanted wanted;
  std::map<std::string, std::string> priceOfId;  // every change the history holds
  std::map<std::string, int> stored;             // price -> times it was stored
  int64_t lastRev = 0;
  std::string lastTookEffect;
  const auto takeEffect = [&](const json& event, const std::string& id) {
    const auto price = priceOfId.find(id);
    if (price == priceOfId.end()) {
      violations_.push_back("the history has " + event.dump() + " of a change it never accepted");
      return;
    }
    const AskedChange& asked = byPrice_[price->second];
    // 3: the state is the changes in the order they took effect.
    for (const auto& [address, record] : asked.panels) wanted[address] = record;
    if (std::find(cancelledIds_.begin(), cancelledIds_.end(), id) != cancelledIds_.end())
      violations_.push_back("change " + id + " took effect after it was cancelled");
    const std::optional<int64_t> at = station::ParseInstant(event.value("at", ""));
    if (asked.effectiveAt && at && *at < *asked.effectiveAt)
      violations_.push_back("change " + id + " took effect before its time: " + event.dump());
  };
  for (const json& event : events) {
    const std::string kind = event.value("kind", "");
    const json& detail = event["detail"];
    if (kind == "change accepted" || kind == "change scheduled") {
      const std::string price = detail["panels"].empty() ? "" : PriceOf(detail["panels"][0]);
      priceOfId[detail.value("id", "")] = price;
      ++stored[price];
      if (!byPrice_.count(price)) violations_.push_back("the history holds a change nobody asked for: " + event.dump());
    }
    if (kind == "change accepted" || kind == "change due" || kind == "change skipped") {
      // 2: one more each time a change takes effect, across restarts too.
      const int64_t rev = event["rev"].is_number() ? event["rev"].get<int64_t>() : -1;
      if (rev != lastRev + 1)
        violations_.push_back("revision " + std::to_string(rev) + " after " + std::to_string(lastRev) +
                              ": " + event.dump());
      lastRev = std::max(lastRev, rev);
    }
    if (kind == "change accepted" || kind == "change due" || kind == "change skipped")
      takeEffect(event, detail.value("id", ""));
  }
  // 6: every change the agent said it stored is there once; none it refused.
  for (const auto& [price, id] : idOfPrice_) {
    if (stored[price] != 1)
      violations_.push_back("change " + id + " (" + price + ") is " + std::to_string(stored[price]) +
                            " times in the history");
  }
  for (const std::string& price : refusedPrices_) {
    if (stored[price] != 0) violations_.push_back("a change refused as not stored (" + price + ") is in the history");
  }
  for (const std::string& price : unansweredPrices_) {
    if (stored[price] > 1) violations_.push_back("an unanswered change (" + price + ") is stored twice");
  }
  return wanted;
}

}  // namespace tarvo::test

#pragma once
// A sign behind a fake port, for fast tests of the exchanges. Every operation
// is traced; the answer chosen for a message arrives in the input queue after
// a number of queue counts, as a slow sign's bytes would, so a purge drops
// only what has already arrived.

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/sign_port.h"
#include "serial/CPort.h"

namespace tarvo::test {

class ScriptedSignPort final : public SignPort {
 public:
  struct Answer {
    std::string bytes;
    int afterCounts = 1;  // 0: already queued when the send returns
  };
  // Chooses the answer to a message, or none for silence.
  using Responder = std::function<std::optional<Answer>(const std::string& sent)>;

  Responder respond = [](const std::string&) { return std::nullopt; };
  bool closed = false;  // every operation fails as on a port that is not open

  std::vector<std::string> sent;
  // "purge", "send <text>", "count <n>", "wait <n>", "read <n>" in call order.
  std::vector<std::string> trace;

  std::string Queued() const { return queue_; }
  int Count(const std::string& text) const {
    int n = 0;
    for (const std::string& s : sent) n += s == text ? 1 : 0;
    return n;
  }

  void PurgeBuffers(bool, bool) override {
    if (closed) throw EComPort(kErrPurge, kBadDescriptor);
    trace.push_back("purge");
    queue_.clear();
  }
  int32_t SendText(const std::string& text) override {
    if (closed) throw EComPort(kErrWrite, kBadDescriptor);
    trace.push_back("send " + text);
    sent.push_back(text);
    if (std::optional<Answer> answer = respond(text)) {
      pending_.push_back(*answer);
      Deliver();
    }
    return static_cast<int32_t>(text.size());
  }
  int32_t InputQueueCount() override {
    if (closed) throw EComPort(kErrClearError, kBadDescriptor);
    for (Answer& answer : pending_) --answer.afterCounts;
    Deliver();
    trace.push_back("count " + std::to_string(queue_.size()));
    return static_cast<int32_t>(queue_.size());
  }
  // The wait lets every answer due before count bytes are queued arrive.
  int32_t WaitForInput(int32_t count, int) override {
    if (closed) throw EComPort(kErrClearError, kBadDescriptor);
    while (!pending_.empty() && static_cast<int32_t>(queue_.size()) < count) {
      queue_ += pending_.front().bytes;
      pending_.pop_front();
    }
    trace.push_back("wait " + std::to_string(queue_.size()));
    return static_cast<int32_t>(queue_.size());
  }
  int32_t ReadBytes(std::string& text, int32_t count) override {
    if (closed) throw EComPort(kErrRead, kBadDescriptor);
    text = queue_.substr(0, static_cast<size_t>(std::max(count, 0)));
    queue_.erase(0, text.size());
    trace.push_back("read " + std::to_string(text.size()));
    return static_cast<int32_t>(text.size());
  }

 private:
  static constexpr int kBadDescriptor = 9;

  void Deliver() {
    while (!pending_.empty() && pending_.front().afterCounts <= 0) {
      queue_ += pending_.front().bytes;
      pending_.pop_front();
    }
  }

  std::deque<Answer> pending_;
  std::string queue_;
};

}  // namespace tarvo::test

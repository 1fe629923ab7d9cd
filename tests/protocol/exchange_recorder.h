#pragma once
// Plays the window for the read and write procedures: holds the reply buffer
// and the read delay, and records the log lines and progress positions.

#include <string>
#include <vector>

#include "protocol/exchange_context.h"

namespace tarvo::test {

struct ExchangeRecorder {
  std::string replyBuffer;
  int readDelayMs = 1;
  std::vector<std::string> log;
  std::vector<int> progress;

  sign_exchange::ExchangeContext Context() {
    return {replyBuffer, [this] { return readDelayMs; },
            [this](const std::string& line) { log.push_back(line); },
            [this](int position) { progress.push_back(position); }};
  }
  // The way that waits for the answer's bytes; it should never ask for the
  // read delay, and delayAsks counts it if it does.
  sign_exchange::ExchangeContext WaitingForBytes(int answerTimeoutMs) {
    sign_exchange::ExchangeContext context = Context();
    context.readDelayMs = [this] { return ++delayAsks, readDelayMs; };
    context.wait = sign_exchange::AnswerWait::ForBytes;
    context.answerTimeoutMs = answerTimeoutMs;
    return context;
  }
  int delayAsks = 0;

  int LinesEqualTo(const std::string& text) const {
    int n = 0;
    for (const std::string& line : log) n += line == text ? 1 : 0;
    return n;
  }
};

}  // namespace tarvo::test

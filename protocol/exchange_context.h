#pragma once
// What the read and the write need of the window: the program-wide reply
// buffer, the read delay, the exchange log and the progress bar, and how an
// attempt waits for its answer. The lines both procedures write after
// polling are made here, once.

#include <cstdint>
#include <functional>
#include <string>

#include "protocol/sign_port.h"

namespace sign_exchange {

enum class AnswerWait { PacedPolls, ForBytes };

struct ExchangeContext {
  // The one buffer of the program that holds the sign's last answer and in
  // which the write builds its frames.
  std::string& replyBuffer;
  // Asked at every use, because the window's slider is the source.
  std::function<int()> readDelayMs;
  // Appends one line to the exchange log.
  std::function<void(const std::string&)> log;
  // Sets the progress bar (range 0..8) and lets the window process its
  // pending messages.
  std::function<void(int position)> progress;
  // How an attempt waits for its answer: the window's paced polls, or until the
  // answer's length has arrived, at most answerTimeoutMs.
  AnswerWait wait = AnswerWait::PacedPolls;
  int answerTimeoutMs = 100;
};

// Sleeps one read delay.
void SleepReadDelay(const ExchangeContext& context);

// The answer wait of ForBytes: until length bytes are queued, at most the
// context's answer time; logs and returns the count then.
int32_t WaitForAnswer(SignPort& port, const ExchangeContext& context, int32_t length);

// Before a retry of ForBytes: waits until no byte has come for a few byte
// times, at most the answer time. The rest of an answer, or bytes a sign
// sends after it, would otherwise arrive after the retry's purge and shift
// every answer after it; the window's read delay before each purge does the
// same for the paced polls. Nothing to do for those.
void LetLineFallQuiet(SignPort& port, const ExchangeContext& context);

// "Принято символов:" and the count, run together.
std::string QueuedLine(int32_t count);
// "<polls> попыток чтения прошло. Задержка <delay>мс".
std::string PollSummaryLine(int polls, int delayMs);
// "Принял:" and the buffer's bytes one character each, run together.
std::string ReceivedLine(const std::string& buffer);

}  // namespace sign_exchange

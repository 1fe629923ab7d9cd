#pragma once
// What the read and the write need of the window: the program-wide reply
// buffer, the read delay, the exchange log and the progress bar, and how an
// attempt waits for its answer. The lines both procedures write after
// polling are made here, once.

#include <chrono>
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

// What came back to an exchange's attempts, whatever it was worth. No byte
// at all: the sign does not answer. An answer time that ended with part of an
// answer queued: its bytes come too slowly for it (or the answer was cut).
struct Heard {
  bool anyByte = false;
  bool cutShort = false;
  Heard& operator|=(const Heard& other) {
    anyByte = anyByte || other.anyByte;
    cutShort = cutShort || other.cutShort;
    return *this;
  }
  bool operator==(const Heard&) const = default;
};

// What an answer time that ended with `queued` bytes of an answer of
// `enough` tells.
Heard HeardOf(int32_t queued, int32_t enough);

// What one answer has: its length, waited for and taken off the line; the
// count that makes it whole enough to read; the count kept of it.
struct AnswerShape {
  int32_t waitFor;
  int32_t enough;
  int32_t taken;
};

// What an answer wait of ForBytes gave.
struct Arrival {
  bool taken = false;  // this exchange's answer was read into the buffer
  Heard heard;
};

// The answer wait of ForBytes, from just after the send: until the answer's
// bytes are queued, at most the context's answer time. An answer that
// isAnother recognises as another exchange's (a reply for another panel, late
// from an earlier request) is taken off the line and dropped, and the wait
// goes on to the same deadline; anything else is this attempt's answer, for
// the caller to check. Logs the count the wait ended with.
Arrival TakeAnswer(SignPort& port, const ExchangeContext& context, const AnswerShape& shape,
                   std::string& answer,
                   const std::function<bool(const std::string&)>& isAnother = nullptr);

// Before a retry of ForBytes: waits until no byte has come for a few byte
// times, at most the answer time. The rest of an answer, or bytes a sign
// sends after it, would otherwise arrive after the retry's purge and shift
// every answer after it; the window's read delay before each purge does the
// same for the paced polls. Nothing to do for those.
void LetLineFallQuiet(SignPort& port, const ExchangeContext& context);

// After an exchange of ForBytes that left a send without its own answer:
// lets two answer times pass since that send, dropping whatever comes, so that
// an answer late by up to one more answer time cannot be taken for the next
// exchange's. An answer that carries no address (a write acknowledgement)
// could not be told from that exchange's own.
void LetLateAnswersPass(SignPort& port, const ExchangeContext& context,
                        std::chrono::steady_clock::time_point lastSend);

// "Принято символов:" and the count, run together.
std::string QueuedLine(int32_t count);
// "<polls> попыток чтения прошло. Задержка <delay>мс".
std::string PollSummaryLine(int polls, int delayMs);
// "Принял:" and the buffer's bytes one character each, run together.
std::string ReceivedLine(const std::string& buffer);

}  // namespace sign_exchange

#include "serial/port/input_queue.h"

#include <algorithm>

#include "serial/port/event_word.h"

void InputQueue::SetRules(const ReceiveRules& rules) {
  rules_ = rules;
  mark_ = Mark::kNone;
}

InputQueue::Received InputQueue::Add(const char* data, size_t size) {
  Received received;
  const bool wasNearlyFull = bytes_.size() >= NearlyFull();
  for (size_t i = 0; i < size; ++i) {
    const auto byte = static_cast<uint8_t>(data[i]);
    if (!rules_.marked) {
      Store(byte, received);
      continue;
    }
    switch (mark_) {
      case Mark::kNone:
        if (byte == 0xFF) {
          mark_ = Mark::kSawFF;
        } else {
          Store(byte, received);
        }
        break;
      case Mark::kSawFF:
        if (byte == 0x00) {
          mark_ = Mark::kSawFFNul;
          break;
        }
        // 0xFF 0xFF is a real 0xFF; anything else is not a mark, so keep both.
        mark_ = Mark::kNone;
        Store(0xFF, received);
        if (byte != 0xFF) Store(byte, received);
        break;
      case Mark::kSawFFNul:
        mark_ = Mark::kNone;
        if (byte == 0x00) {
          // A marked NUL is how the terminal passes a break.
          received.flags |= kFlagBreak;
          received.errors.Include(ceBreak);
          Store(0x00, received);
        } else {
          received.flags |= kFlagError;
          received.errors.Include(ceRxParity);
          Store(rules_.replace ? rules_.replaceChar : byte, received);
        }
        break;
    }
  }
  if (!wasNearlyFull && bytes_.size() >= NearlyFull()) {
    received.flags |= kFlagRx80Full;
  }
  return received;
}

void InputQueue::Store(uint8_t byte, Received& received) {
  if (byte == 0x00 && rules_.discardNull) return;
  if (Full()) {
    received.errors.Include(ceRxOver);
    return;
  }
  bytes_.push_back(static_cast<char>(byte));
  received.flags |= kFlagRxChar;
  if (byte == rules_.eventChar) received.flags |= kFlagRxFlag;
}

std::string InputQueue::Take(size_t count) {
  const size_t n = std::min(count, bytes_.size());
  std::string taken(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
  return taken;
}

void InputQueue::Clear() {
  bytes_.clear();
  mark_ = Mark::kNone;
}

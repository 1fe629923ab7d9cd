#pragma once
// The port's own input queue. termios cannot drop NUL bytes, so received
// bytes are moved here from the terminal and the port's counts and reads are
// served from here; NUL bytes are dropped on the way when asked.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "serial/CPort.h"

struct ReceiveRules {
  bool discardNull = false;
  uint8_t eventChar = 0;
  // The terminal marks bytes received with an error as 0xFF 0x00 byte and a
  // real 0xFF as 0xFF 0xFF (PARMRK); marked bytes are reported as errors.
  bool marked = false;
  bool replace = false;  // a marked byte becomes replaceChar
  uint8_t replaceChar = 0;
};

class InputQueue {
 public:
  // What one Add did: events (kFlag* bits) and line errors.
  struct Received {
    uint32_t flags = 0;
    TComErrors errors;
  };

  explicit InputQueue(size_t capacity = 1024) : capacity_(capacity) {}

  // Bytes beyond the capacity are dropped (ceRxOver).
  void SetCapacity(size_t capacity) { capacity_ = capacity; }
  // Forgets a mark half read under the old rules.
  void SetRules(const ReceiveRules& rules);

  Received Add(const char* data, size_t size);
  std::string Take(size_t count);
  void Clear();
  size_t Size() const { return bytes_.size(); }
  size_t Room() const { return Full() ? 0 : capacity_ - bytes_.size(); }
  bool Full() const { return bytes_.size() >= capacity_; }

 private:
  enum class Mark { kNone, kSawFF, kSawFFNul };
  void Store(uint8_t byte, Received& received);
  size_t NearlyFull() const { return capacity_ - capacity_ / 5; }

  std::deque<char> bytes_;
  size_t capacity_;
  ReceiveRules rules_;
  Mark mark_ = Mark::kNone;
};

#pragma once
// What the sign does with the bytes it receives: it picks whole messages out
// of them, keeps the panels and the brightness, and makes the answers as the
// faults in force shape them. No line and no clock: the simulator feeds it.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/sign_link.h"
#include "sim/sign_faults.h"

namespace sign_sim {

// One message taken off the line (or one run of bytes that fit no message)
// and what the sign made of it.
struct Exchange {
  std::string received;
  std::string answer;  // the bytes to send, faults applied; empty: no answer
  std::string note;    // why there is no answer, for the transcript
};

class SignDevice {
 public:
  SignDevice();

  // Takes bytes as they arrive; returns what they complete, in order. Bytes
  // that start no message are dropped one at a time; the start of a message
  // is held until the rest arrives.
  std::vector<Exchange> Receive(std::string_view bytes);
  // True while the start of a message waits for the rest.
  bool HoldsPartial() const { return !pending_.empty(); }
  // The held start never completed: drops its first byte and takes the rest again.
  std::vector<Exchange> DropStaleByte();
  // Forgets the held start (the line went away).
  void ForgetPartial() { pending_.clear(); }

  // Addresses other than 0..4 and 8..12 throw std::out_of_range; a price of
  // other than four characters throws std::invalid_argument.
  const sign_link::PanelRecord& Panel(uint8_t address) const;
  void SetPanel(uint8_t address, const sign_link::PanelRecord& record);
  int Brightness() const { return brightness_; }
  // kBrightnessAutomatic or 0..9; anything else throws std::out_of_range.
  void SetBrightness(int brightness);

  SignFaults& Faults() { return faults_; }
  const SignFaults& Faults() const { return faults_; }

 private:
  // Takes the whole messages at the front of the input; `dropped` starts the
  // run of bytes that fit no message.
  std::vector<Exchange> TakeMessages(std::string dropped = {});
  Exchange Answer(const std::string& message);
  Exchange AnswerRead(const std::string& message);
  Exchange AnswerWrite(const std::string& message);
  Exchange AnswerBrightness(const std::string& message);
  std::string PanelReply(char addressChar, const sign_link::PanelRecord& record);
  std::string Shaped(std::string answer) const;

  std::string pending_;
  std::array<sign_link::PanelRecord, 13> panels_;  // indexed by address; 5..7 unused
  int brightness_;
  SignFaults faults_;
};

}  // namespace sign_sim

#pragma once
// The ways a simulated sign can misbehave. The simulator and the tests both
// include this, so a test names the fault it injects. A default-constructed
// value is a well-behaved sign that answers at once.

#include <string>

namespace sign_sim {

struct SignFaults {
  // Every answer (panel reply, write acknowledgement, brightness echo).
  bool silent = false;                // receives everything, answers nothing
  int answerDelayMs = 0;              // pause before the first byte of each answer
  int dribbleGapMs = 0;               // > 0: answers go out one byte at a time, this far apart
  int nulsBetweenBytes = 0;           // this many 0x00 bytes between two answer bytes
  std::string extraAfterAnswer = {};  // bytes sent right after each answer

  // Panel replies only. The two counters count down with each reply.
  int wrongFirstCheckDigit = 0;   // the next N replies carry a wrong first check digit
  int wrongSecondCheckDigit = 0;  // the next N replies carry a wrong second check digit
  bool lowercaseCheckCode =
      false;                    // check digits A..F sent as a..f (codes of 0..9 only are unchanged)
  bool replyWithoutT = false;   // "X" in place of "T"; the check code still matches
  bool replyWithoutOk = false;  // "NO" in place of "OK"; the check code still matches
  int replyLength = 0;          // > 0: replies cut to this many bytes (11: the short reply)
  bool answerForAnotherPanel = false;  // each read is answered by the next panel's reply (its address, its record)

  // Writes and brightness.
  int refusedWrites = 0;             // the next N good write frames are neither stored nor answered
  bool wrongBrightnessEcho = false;  // "LM" d echoes the next digit (9 -> 0); "LA" echoes "LM"

  bool operator==(const SignFaults&) const = default;
};

}  // namespace sign_sim

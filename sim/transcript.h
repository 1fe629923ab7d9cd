#pragma once
// One line of the simulator's transcript: a message received from the program
// or an answer sent to it, with the time and the port.

#include <chrono>
#include <string>
#include <string_view>

namespace sign_sim {

enum class Direction { kReceived, kSent };

struct TranscriptLine {
  std::chrono::system_clock::time_point when;
  std::string port;
  Direction direction = Direction::kReceived;
  std::string bytes;
  std::string note;  // why a message got no answer, or what else happened; may be empty
};

// Printable ASCII as it is, every other byte (and "\\") as \xHH.
std::string ShowBytes(std::string_view bytes);

// "hh:mm:ss.mmm COM3 <- R0E" (received) or "... -> T0..." (sent), then the
// note in parentheses when there is one. Local time.
std::string FormatTranscriptLine(const TranscriptLine& line);

}  // namespace sign_sim

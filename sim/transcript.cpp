#include "sim/transcript.h"

#include <cstdio>
#include <ctime>

namespace sign_sim {

std::string ShowBytes(std::string_view bytes) {
  std::string shown;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '\\') {
      shown += c;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      shown += hex;
    }
  }
  return shown;
}

std::string FormatTranscriptLine(const TranscriptLine& line) {
  using namespace std::chrono;
  const std::time_t seconds = system_clock::to_time_t(line.when);
  const auto millis = duration_cast<milliseconds>(line.when.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<int>(millis));
  std::string text = std::string(stamp) + " " + line.port +
                     (line.direction == Direction::kReceived ? " <- " : " -> ") +
                     ShowBytes(line.bytes);
  if (!line.note.empty()) text += " (" + line.note + ")";
  return text;
}

}  // namespace sign_sim

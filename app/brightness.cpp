#include "app/brightness.h"

#include <thread>

namespace {

const char kNotSet[] = "Яркость не установлена.";

// Sends the command and checks that the sign echoes it back unchanged. Only
// as many bytes as the command has are taken; later ones stay queued for the
// next purge.
bool SignEchoes(SignPort& port, const std::string& command, std::string& replyBuffer,
                std::chrono::milliseconds wait) {
  port.PurgeBuffers(true, true);
  port.SendText(command);
  std::this_thread::sleep_for(wait);
  const auto length = static_cast<int32_t>(command.size());
  if (port.InputQueueCount() < length) return false;
  port.ReadBytes(replyBuffer, length);
  return replyBuffer == command;
}

// The field holds one digit or a blank; anything but a digit is level 0.
char LevelDigit(const std::string& levelText) {
  const char c = levelText.empty() ? ' ' : levelText.front();
  return c >= '0' && c <= '9' ? c : '0';
}

}  // namespace

std::string SetAutomaticBrightness(SignPort& port, std::string& replyBuffer,
                                   std::chrono::milliseconds wait) {
  if (!SignEchoes(port, "LA", replyBuffer, wait)) return kNotSet;
  return "Установлена автоматическая яркость.";
}

std::string SetManualBrightness(SignPort& port, const std::string& levelText,
                                std::string& replyBuffer, std::chrono::milliseconds wait) {
  const char digit = LevelDigit(levelText);
  if (!SignEchoes(port, std::string("LM") + digit, replyBuffer, wait)) return kNotSet;
  return std::string("Установлена ручная яркость: ") + digit;
}

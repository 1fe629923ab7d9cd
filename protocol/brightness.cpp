#include "protocol/brightness.h"

#include <thread>

namespace {

const char kNotSet[] = "Яркость не установлена.";

// Sends the command and checks that the sign echoes it back unchanged. Only
// as many bytes as the command has are taken; later ones stay queued for the
// next purge.
bool SignEchoes(SignPort& port, const std::string& command, std::string& replyBuffer,
                std::chrono::milliseconds wait, sign_exchange::AnswerWait how) {
  port.PurgeBuffers(true, true);
  port.SendText(command);
  const auto length = static_cast<int32_t>(command.size());
  int32_t queued = 0;
  if (how == sign_exchange::AnswerWait::ForBytes) {
    queued = port.WaitForInput(length, static_cast<int>(wait.count()));
  } else {
    std::this_thread::sleep_for(wait);
    queued = port.InputQueueCount();
  }
  if (queued < length) return false;
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
                                   std::chrono::milliseconds wait, sign_exchange::AnswerWait how) {
  if (!SignEchoes(port, "LA", replyBuffer, wait, how)) return kNotSet;
  return "Установлена автоматическая яркость.";
}

std::string SetManualBrightness(SignPort& port, const std::string& levelText,
                                std::string& replyBuffer, std::chrono::milliseconds wait,
                                sign_exchange::AnswerWait how) {
  const char digit = LevelDigit(levelText);
  if (!SignEchoes(port, std::string("LM") + digit, replyBuffer, wait, how)) return kNotSet;
  return std::string("Установлена ручная яркость: ") + digit;
}

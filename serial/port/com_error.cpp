#include <libintl.h>

#include <optional>
#include <string>

#include "serial/CPort.h"

namespace {

// Marks a text for the message template; it is looked up when an error is made.
constexpr const char* N_(const char* text) { return text; }

constexpr const char* kTexts[] = {
    N_("Unable to open com port"),
    N_("WriteFile function failed"),
    N_("ReadFile function failed"),
    N_("Invalid Async parameter"),
    N_("PurgeComm function failed"),
    N_("Unable to get async status"),
    N_("SetCommState function failed"),
    N_("SetCommTimeouts failed"),
    N_("SetupComm function failed"),
    N_("ClearCommError function failed"),
    N_("GetCommModemStatus function failed"),
    N_("EscapeCommFunction function failed"),
    N_("TransmitCommChar function failed"),
    N_("Cannot set property while connected"),
    N_("EnumPorts function failed"),
    N_("Failed to store settings"),
    N_("Failed to load settings"),
    N_("Link (un)registration failed"),
    N_("Cannot change led state if ComPort is selected"),
    N_("Cannot wait for event if event thread is created"),
    N_("WaitForEvent method failed"),
    N_("A component is linked to OnRxBuf event"),
    N_("Registry error"),
};

constexpr int kTextCount = static_cast<int>(sizeof kTexts / sizeof kTexts[0]);

// The suffix with the number at its one "%d" ("%%" is a "%"), or nothing when
// the format has another shape.
std::optional<std::string> Formatted(const std::string& format, int number) {
  std::string text;
  int numbers = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      text += format[i];
    } else if (i + 1 < format.size() && format[i + 1] == '%') {
      text += '%';
      ++i;
    } else if (i + 1 < format.size() && format[i + 1] == 'd' && numbers++ == 0) {
      text += std::to_string(number);
      ++i;
    } else {
      return std::nullopt;
    }
  }
  if (numbers != 1) return std::nullopt;
  return text;
}

std::string MessageOf(int errorCode, int systemError) {
  std::string message = dgettext("cport", ComErrorText(errorCode));
  if (systemError != -1) {
    // A careless or broken catalogue may give the suffix another shape; the
    // number must not be misread, so the original suffix stands in then.
    constexpr const char* kSuffix = N_(" (win error code: %d)");
    message += Formatted(dgettext("cport", kSuffix), systemError)
                   .value_or(*Formatted(kSuffix, systemError));
  }
  return message;
}

}  // namespace

const char* ComErrorText(int errorCode) {
  return errorCode >= 1 && errorCode <= kTextCount ? kTexts[errorCode - 1] : "";
}

EComPort::EComPort(int errorCode, int systemError)
    : std::runtime_error(MessageOf(errorCode, systemError)),
      errorCode_(errorCode),
      systemError_(systemError) {}

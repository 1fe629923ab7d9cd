#include <libintl.h>

#include <cstdio>

#include "serial/CPort.h"

namespace {

constexpr const char* kTexts[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

constexpr int kTextCount = static_cast<int>(sizeof kTexts / sizeof kTexts[0]);

std::string MessageOf(int errorCode, int systemError) {
  std::string message = dgettext("cport", ComErrorText(errorCode));
  if (systemError != -1) {
    char suffix[96];
    std::snprintf(suffix, sizeof suffix, dgettext("cport", " (win error code: %d)"), systemError);
    message += suffix;
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

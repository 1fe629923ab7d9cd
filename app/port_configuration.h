#pragma once
// The port configuration command behind "Настроить COM - порт.": close the
// port, let the operator set it up, force 19200 baud, store the settings and
// open the port again.

#include <functional>

#include "serial/CPort.h"

// Where the command stores the port's settings.
inline constexpr const char kPortSettingsKey[] = "HKEY_LOCAL_MACHINE\\Software\\TARVO";

// The dialog step; the program shows the real modal dialog.
using SetupDialogStep = std::function<void(TComPort& port)>;

// Port errors (storing, the port list, opening) leave as EComPort for the
// window to report; a failure to store leaves the port closed, a failure to
// open comes after the settings were stored. No message on success.
void ConfigurePort(TComPort& port, const SetupDialogStep& runDialog);
void ConfigurePort(TComPort& port);

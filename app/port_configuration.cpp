#include "app/port_configuration.h"

#include "serial/CPortSetup.h"

void ConfigurePort(TComPort& port, const SetupDialogStep& runDialog) {
  port.ClosePort();
  runDialog(port);
  port.SetBaudRate(br19200);  // the sign speaks nothing else
  port.SavePortSettings(false, kPortSettingsKey);
  port.OpenPort();
}

void ConfigurePort(TComPort& port) { ConfigurePort(port, RunSetupDialog); }

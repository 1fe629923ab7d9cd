#pragma once
// The names of the system's serial ports, as the Port setting accepts them.

#include <string>
#include <vector>

// Replaces the list with the port names, sorted as text ignoring letter case
// (COM1, COM10, COM2). With TARVO_COM_DIR set these are the folder's COMn
// entries; otherwise the table's COMn whose devices exist and are real serial
// ports. A folder that cannot be read raises EComPort 23 with its errno and
// leaves the list as it was.
void ListSerialPorts(std::vector<std::string>& list);

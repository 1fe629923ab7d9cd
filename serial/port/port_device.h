#pragma once
// What a device node is, decided from the node alone: opening a real UART
// pulses its DTR and RTS lines, so questions that stat can answer are asked
// without opening.

#include <string>

// True when the path leads to a character device that a terminal driver of
// the kernel serves (/proc/tty/drivers lists each driver's major and minor
// numbers): a serial port, a USB adapter, a pseudo-terminal.
bool IsTerminalDevice(const std::string& path);

#pragma once
// The two brightness commands without their buttons: one attempt each,
// returning the text the window shows in its message box.

#include <chrono>
#include <string>

#include "protocol/sign_port.h"

// "LA", a fixed wait, then the sign's echo of those two bytes.
std::string SetAutomaticBrightness(SignPort& port, std::string& replyBuffer,
                                   std::chrono::milliseconds wait = std::chrono::milliseconds(100));

// "LM" and the level digit taken from the brightness field's text (a blank
// or an empty field is level 0), a fixed wait, then the echo of all three.
std::string SetManualBrightness(SignPort& port, const std::string& levelText,
                                std::string& replyBuffer,
                                std::chrono::milliseconds wait = std::chrono::milliseconds(200));

#pragma once
// The two brightness commands without their buttons: one attempt each,
// returning the text the window shows in its message box. The window waits
// the whole of `wait` before it looks for the echo; waiting for the bytes
// takes the echo as soon as its length has arrived, at most after `wait`.

#include <chrono>
#include <string>

#include "protocol/exchange_context.h"
#include "protocol/sign_port.h"

// "LA", the wait, then the sign's echo of those two bytes.
std::string SetAutomaticBrightness(
    SignPort& port, std::string& replyBuffer,
    std::chrono::milliseconds wait = std::chrono::milliseconds(100),
    sign_exchange::AnswerWait how = sign_exchange::AnswerWait::PacedPolls);

// "LM" and the level digit taken from the brightness field's text (a blank
// or an empty field is level 0), the wait, then the echo of all three.
std::string SetManualBrightness(
    SignPort& port, const std::string& levelText, std::string& replyBuffer,
    std::chrono::milliseconds wait = std::chrono::milliseconds(200),
    sign_exchange::AnswerWait how = sign_exchange::AnswerWait::PacedPolls);

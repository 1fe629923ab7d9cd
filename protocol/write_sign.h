#pragma once
// Writing the sign: the five entry rows, bottom up, each to its first-half and
// then its second-half panel, every frame followed by the wait for the sign's
// acknowledgement. Widget-free: the window hands over its rows on demand.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "protocol/exchange_context.h"
#include "protocol/sign_link.h"
#include "protocol/sign_port.h"

namespace sign_exchange {

// What one write frame gave.
struct FrameOutcome {
  uint8_t address;
  std::string frame;
  bool acknowledged;
  // The most that came back to the frame's sends (waiting for the bytes).
  Heard heard;
};

// The entry row r (1 top .. 5 bottom) as its controls are at the moment of
// asking: a row is asked for only when its turn comes.
using EntryRowSource = std::function<sign_link::EntryRow(int row)>;

// The check code of the frame body: the first nine bytes of the buffer.
std::string MakeCheckCode(const std::string& replyBuffer);

// Sends the frame held in the reply buffer (the window: again, before its
// purge) and waits for an answer that begins with WOK, up to three attempts;
// every attempt is traced in the log.
bool WaitWriteAck(SignPort& port, const ExchangeContext& context);

// Builds the panel's frame in the reply buffer, sends it and waits for its
// acknowledgement: the window's sequence with paced polls, one send per
// attempt when waiting for the bytes.
FrameOutcome WritePanel(SignPort& port, uint8_t address, const sign_link::PanelRecord& record,
                        const ExchangeContext& context);

// The ten frames in order, with the progress positions 1..8, 8. The outcome of
// an acknowledgement does not stop the write; port errors do.
std::vector<FrameOutcome> WriteSign(SignPort& port, const EntryRowSource& entryRow,
                                    const ExchangeContext& context);

}  // namespace sign_exchange

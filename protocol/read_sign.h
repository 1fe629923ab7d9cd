#pragma once
// Reading the sign: one panel with its retries (ReadPanel) and all ten panels
// in the window's order (ReadSign). Widget-free: the window is told about
// each panel as soon as it has been read and fills its controls from that.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "protocol/exchange_context.h"
#include "protocol/sign_link.h"
#include "protocol/sign_port.h"

namespace sign_exchange {

// One step of the full read and the controls it feeds.
struct ReadStep {
  uint8_t address;
  int progress;                   // progress bar position before the read
  int entryRow;                   // 1 (top) .. 5 (bottom): its price field
  bool secondHalf;                // which column of display labels
  bool setsGradeAndInscriptions;  // the row's grade box and inscription boxes
};

// First half from the bottom row up, second half from the top row down;
// only the second half's bottom panel also sets grade and inscriptions.
inline constexpr std::array<ReadStep, 10> kReadSteps = {{
    {0, 1, 5, false, true},
    {1, 2, 4, false, true},
    {2, 3, 3, false, true},
    {3, 4, 2, false, true},
    {4, 4, 1, false, true},
    {12, 5, 1, true, false},
    {11, 5, 2, true, false},
    {10, 6, 3, true, false},
    {9, 7, 4, true, false},
    {8, 8, 5, true, true},
}};

// What one panel gave.
struct PanelReading {
  ReadStep step{};
  bool good = false;            // check code matched, "T" first and "OK" at 10..11
  std::string reply;            // the reply buffer after the read
  std::string priceText;        // the label's new caption when good
  sign_link::PanelView view{};  // grade index and inscriptions when good
  // What came back to the panel's requests, good or not (for the window's
  // polls: what they counted last).
  Heard heard;
};

// Up to seven attempts at one panel, each traced in the log. Afterwards the
// reply buffer holds a reply whose check code matched (the result is true),
// or 16 blanks (false).
bool ReadPanel(SignPort& port, uint8_t address, const ExchangeContext& context);

// One step of the full read: its progress position, then the panel with its
// retries. Waiting for the bytes, a reply whose address character is another
// panel's (a late one) is dropped and never becomes this panel's.
PanelReading ReadStepPanel(SignPort& port, const ReadStep& step, const ExchangeContext& context);

// The ten panels in the order of kReadSteps, with the progress positions
// before each and 0 at the end. onPanel runs after each panel, so a port
// error midway leaves the panels before it shown.
std::vector<PanelReading> ReadSign(SignPort& port, const ExchangeContext& context,
                                   const std::function<void(const PanelReading&)>& onPanel);

}  // namespace sign_exchange

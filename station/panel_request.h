#pragma once
// What a write asks of one panel, from a SPEC such as "row1=45.60:95:1" or
// "panel8=-", and how it meets what the sign holds. Fields left out keep the
// sign's value.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/sign_link.h"

namespace station {

struct PanelRequest {
  uint8_t address = 0;
  std::optional<std::string> price;  // four price characters
  std::optional<char> grade;         // grade code "1".."5"
  std::optional<char> inscription;   // "0".."3": bit 0 "Надпись 1", bit 1 "Надпись 2"
  bool operator==(const PanelRequest&) const = default;
};

// Each SPEC gives one panel (panelA) or both panels of an entry row (rowR);
// a panel named twice is refused. Throws InputError naming the
// SPEC and what is wrong with it.
std::vector<PanelRequest> ParseSpecs(const std::vector<std::string>& specs);

// "45.60" or "5.60" (a leading 0 is added), "-" or "--.--" for an unused
// panel ("----"); nothing for anything else.
std::optional<std::string> PriceCharacters(std::string_view price);
// "80", "92", "95", "98", "ДТ" or "DT" as the grade code "1".."5".
std::optional<char> GradeCode(std::string_view grade);

// The record to send: the request's fields over what the panel holds.
sign_link::PanelRecord Merged(const sign_link::PanelRecord& held, const PanelRequest& request);
// True when the request names every field, so nothing of the sign is needed.
bool Complete(const PanelRequest& request);

// Panels as the window reads them: entry row 1 (top) .. 5 and half 1 or 2.
bool IsPanelAddress(int address);
int EntryRowOf(uint8_t address);
int HalfOf(uint8_t address);

}  // namespace station

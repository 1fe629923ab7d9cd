#pragma once
// The ten panels as a read found them, in address order 0..4, 8..12.

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>

#include "station/sign_line.h"
#include "protocol/sign_link.h"

namespace station {

// The record of each panel, or nothing for a panel without a proper reply.
using SignPanels = std::map<uint8_t, std::optional<sign_link::PanelRecord>>;

// The window's read of all ten panels with its retries. A panel without a
// proper reply to which nothing came back, or whose answer time ran out with
// part of a reply, ends the read there with a CliFailure (not confirmed) that
// says so, `where` first: the sign does not answer, or too slowly for the
// answer time, and every panel after it would spend its attempts in vain.
// Port errors leave as EComPort.
SignPanels ReadPanels(SignLine& line, const std::string& where);

nlohmann::json PanelsJson(const SignPanels& panels);

// One aligned line per panel: address, row, half, price as the window's
// label shows it, grade, inscriptions, or the failure.
void PrintPanels(std::ostream& out, const SignPanels& panels);
// The price, grade and inscription of a record, as PrintPanels shows them.
std::string RecordText(const sign_link::PanelRecord& record);

}  // namespace station

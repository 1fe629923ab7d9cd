#pragma once
// A panel as `read --json` prints it, and the --file reader that takes that
// document (edited) back as the panels to write.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "protocol/sign_link.h"
#include "station/panel_request.h"

namespace station {

// {"address", "row", "half", "ok", "price", "grade", "inscription"}; a panel
// without a proper reply has "ok": false and null values.
nlohmann::json PanelJson(uint8_t address, const std::optional<sign_link::PanelRecord>& record);

// The grade's name, or nothing for a code outside "1".."5".
std::optional<std::string> GradeName(char code);
// The inscription bits 0..3 of a record, as a read shows them.
int InscriptionBits(char code);

// A panel as a change asks for it: "ok" true, and null for a grade or
// inscription that keeps the sign's value.
nlohmann::json RequestJson(const PanelRequest& request);

// The panels of a "panels" list whose "ok" is true; a null grade or
// inscription keeps the sign's value. Throws InputError "<document>: ..." for
// a list that is not such, a value out of range, a row or half that does not
// match the address, or a panel given twice.
std::vector<PanelRequest> ParsePanelList(const nlohmann::json& panels, const std::string& document);

// The panels of a document {"panels": [...]} whose "ok" is true; a null
// grade or inscription keeps the sign's value. Throws InputError
// for a document that is not such, a value out of range, a row or half that
// does not match the address, or a panel given twice.
std::vector<PanelRequest> ParsePanelFile(const std::string& text);
// Reads the file and parses it; a file that cannot be read is bad input.
std::vector<PanelRequest> ReadPanelFile(const std::string& path);

// One JSON text on one line; bytes that are not UTF-8 (a sign may send any)
// are replaced rather than refused.
std::string Dump(const nlohmann::json& document);

}  // namespace station

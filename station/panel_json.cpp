#include "station/panel_json.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "station/input_error.h"

namespace station {

namespace {

using nlohmann::json;

// Refusals name the document they come from ("bad --file", "desired").
struct Refusal {
  std::string document;
  [[noreturn]] void operator()(const std::string& what) const {
    throw InputError(document + ": " + what);
  }
};

int64_t Integer(const json& panel, const char* key, const std::string& where,
                const Refusal& Refuse) {
  const auto value = panel.find(key);
  if (value == panel.end() || !value->is_number_integer())
    Refuse(where + ": \"" + key + "\" must be a whole number");
  return value->get<int64_t>();
}

// A panel that `read` could not read carries "ok": false and nothing to write.
bool Unread(const json& panel, const std::string& where, const Refusal& Refuse) {
  if (!panel.is_object() || !panel.contains("ok")) return false;
  if (!panel["ok"].is_boolean()) Refuse(where + ": \"ok\" must be true or false");
  return !panel["ok"].get<bool>();
}

PanelRequest RequestOf(const json& panel, const std::string& where, const Refusal& Refuse) {
  if (!panel.is_object()) Refuse(where + " is not an object");
  const int64_t address = Integer(panel, "address", where, Refuse);
  if (address < 0 || address > 12 || !IsPanelAddress(static_cast<int>(address)))
    Refuse(where + ": a panel address is 0..4 or 8..12");
  PanelRequest request;
  request.address = static_cast<uint8_t>(address);
  const std::string panelName = "panel " + std::to_string(address);
  if (panel.contains("row") &&
      Integer(panel, "row", panelName, Refuse) != EntryRowOf(request.address))
    Refuse(panelName + " is in row " + std::to_string(EntryRowOf(request.address)));
  if (panel.contains("half") &&
      Integer(panel, "half", panelName, Refuse) != HalfOf(request.address))
    Refuse(panelName + " is in half " + std::to_string(HalfOf(request.address)));

  const json& price = panel.value("price", json());
  if (!price.is_string() || !(request.price = PriceCharacters(price.get<std::string>())))
    Refuse(panelName + ": \"price\" is \"45.60\" or \"--.--\"");
  const json& grade = panel.value("grade", json());
  if (!grade.is_null() &&
      !(grade.is_string() && (request.grade = GradeCode(grade.get<std::string>()))))
    Refuse(panelName + ": \"grade\" is \"80\", \"92\", \"95\", \"98\", \"ДТ\" or null");
  const json& inscription = panel.value("inscription", json());
  if (!inscription.is_null()) {
    if (!inscription.is_number_integer() || inscription.get<int64_t>() < 0 ||
        inscription.get<int64_t>() > 3)
      Refuse(panelName + ": \"inscription\" is 0..3 or null");
    request.inscription = static_cast<char>('0' + inscription.get<int64_t>());
  }
  return request;
}

}  // namespace

std::optional<std::string> GradeName(char code) {
  const int index = sign_link::ViewFromRecord({"0000", code, '0'}).gradeIndex;
  if (index < 0 || index >= static_cast<int>(sign_link::kGradeNames.size())) return std::nullopt;
  return std::string(sign_link::kGradeNames[static_cast<size_t>(index)]);
}

int InscriptionBits(char code) {
  const sign_link::PanelView view = sign_link::ViewFromRecord({"0000", '1', code});
  return (view.inscription1 ? 1 : 0) | (view.inscription2 ? 2 : 0);
}

json PanelJson(uint8_t address, const std::optional<sign_link::PanelRecord>& record) {
  json panel = {{"address", address},
                {"row", EntryRowOf(address)},
                {"half", HalfOf(address)},
                {"ok", record.has_value()}};
  panel["price"] = record ? json(sign_link::PriceText(record->price)) : json();
  const std::optional<std::string> grade = record ? GradeName(record->grade) : std::nullopt;
  panel["grade"] = grade ? json(*grade) : json();
  panel["inscription"] = record ? json(InscriptionBits(record->inscription)) : json();
  return panel;
}

json RequestJson(const PanelRequest& request) {
  json panel = {{"address", request.address},
                {"row", EntryRowOf(request.address)},
                {"half", HalfOf(request.address)},
                {"ok", true}};
  panel["price"] = request.price ? json(sign_link::PriceText(*request.price)) : json();
  const std::optional<std::string> grade = request.grade ? GradeName(*request.grade) : std::nullopt;
  panel["grade"] = grade ? json(*grade) : json();
  panel["inscription"] = request.inscription ? json(InscriptionBits(*request.inscription)) : json();
  return panel;
}

std::vector<PanelRequest> ParsePanelList(const json& panels, const std::string& document) {
  const Refusal Refuse{document};
  if (!panels.is_array()) Refuse("\"panels\" must be a list");
  std::vector<PanelRequest> requests;
  int index = 0;
  for (const json& panel : panels) {
    const std::string where = "panels[" + std::to_string(index++) + "]";
    if (Unread(panel, where, Refuse)) continue;
    const PanelRequest request = RequestOf(panel, where, Refuse);
    const bool given = std::any_of(requests.begin(), requests.end(),
                                   [&](const auto& r) { return r.address == request.address; });
    if (given) Refuse("panel " + std::to_string(request.address) + " is given twice");
    requests.push_back(request);
  }
  return requests;
}

std::vector<PanelRequest> ParsePanelFile(const std::string& text) {
  const Refusal Refuse{"bad --file"};
  const json document = json::parse(text, nullptr, false);
  if (document.is_discarded()) Refuse("not a JSON document");
  if (!document.is_object() || !document.contains("panels") || !document["panels"].is_array())
    Refuse("no \"panels\" list (give what `tarvo-cli read --json` prints)");
  return ParsePanelList(document["panels"], Refuse.document);
}

std::vector<PanelRequest> ReadPanelFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string text;
  if (file) text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (!file.is_open() || file.bad())
    throw InputError("cannot read --file " + path + ": " + std::strerror(errno));
  return ParsePanelFile(text);
}

std::string Dump(const json& document) {
  return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace station

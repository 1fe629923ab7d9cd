#include "station/panel_json.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "station/input_error.h"
#include "station/quoted.h"
#include "station/text.h"

namespace station {

namespace {

using nlohmann::json;

// Far more than ten panels with every field: a bigger file is not a panel file.
constexpr size_t kMostFileBytes = 1 << 20;
constexpr const char* kValueKeys[] = {"price", "grade", "inscription"};

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
    Refuse(Format("%s: \"%s\" must be a whole number", {where, key}));
  return value->get<int64_t>();
}

// A panel that `read` could not read carries "ok": false and no values; one
// that carries values (filled in by hand) is asked for like any other.
bool Unread(const json& panel, const std::string& where, const Refusal& Refuse) {
  if (!panel.is_object() || !panel.contains("ok")) return false;
  if (!panel["ok"].is_boolean()) Refuse(Format("%s: \"ok\" must be true or false", {where}));
  const auto empty = [&panel](const char* key) { return panel.value(key, json()).is_null(); };
  return !panel["ok"].get<bool>() && std::all_of(std::begin(kValueKeys), std::end(kValueKeys), empty);
}

// The six characters of "record", one code point U+0000..U+00FF each.
std::optional<sign_link::PanelRecord> RecordOf(const json& panel, const std::string& where,
                                               const Refusal& Refuse) {
  if (!panel.is_object()) return std::nullopt;
  const auto value = panel.find("record");
  if (value == panel.end() || value->is_null()) return std::nullopt;
  std::string bytes;
  if (value->is_string()) {
    const std::string& text = value->get_ref<const std::string&>();
    for (size_t at = 0; at < text.size(); ++at) {
      const auto lead = static_cast<unsigned char>(text[at]);
      if (lead < 0x80) {
        bytes += static_cast<char>(lead);
      } else if ((lead == 0xC2 || lead == 0xC3) && at + 1 < text.size()) {
        bytes += static_cast<char>(((lead & 0x03) << 6) | (text[++at] & 0x3F));
      } else {
        bytes.clear();
        break;
      }
    }
  }
  if (bytes.size() != 6)
    Refuse(Format("%s: \"record\" is the six characters the sign sent", {where}));
  return sign_link::PanelRecord{bytes.substr(0, 4), bytes[4], bytes[5]};
}

PanelRequest RequestOf(const json& panel, const std::string& where, const Refusal& Refuse) {
  if (!panel.is_object()) Refuse(Format("%s is not an object", {where}));
  const int64_t address = Integer(panel, "address", where, Refuse);
  if (address < 0 || address > 12 || !IsPanelAddress(static_cast<int>(address)))
    Refuse(Format("%s: a panel address is 0..4 or 8..12", {where}));
  PanelRequest request;
  request.address = static_cast<uint8_t>(address);
  const std::string panelName = Format("panel %s", {std::to_string(address)});
  if (panel.contains("row") &&
      Integer(panel, "row", panelName, Refuse) != EntryRowOf(request.address))
    Refuse(Format("%s is in row %s", {panelName, std::to_string(EntryRowOf(request.address))}));
  if (panel.contains("half") &&
      Integer(panel, "half", panelName, Refuse) != HalfOf(request.address))
    Refuse(Format("%s is in half %s", {panelName, std::to_string(HalfOf(request.address))}));

  const json& price = panel.value("price", json());
  if (!price.is_string() || !(request.price = PriceCharacters(price.get<std::string>())))
    Refuse(Format("%s: \"price\" is \"45.60\" or \"--.--\"", {panelName}));
  const json& grade = panel.value("grade", json());
  if (!grade.is_null() &&
      !(grade.is_string() && (request.grade = GradeCode(grade.get<std::string>()))))
    Refuse(Format("%s: \"grade\" is \"80\", \"92\", \"95\", \"98\", \"ДТ\" or null", {panelName}));
  const json& inscription = panel.value("inscription", json());
  if (!inscription.is_null()) {
    if (!inscription.is_number_integer() || inscription.get<int64_t>() < 0 ||
        inscription.get<int64_t>() > 3)
      Refuse(Format("%s: \"inscription\" is 0..3 or null", {panelName}));
    request.inscription = static_cast<char>('0' + inscription.get<int64_t>());
  }
  return request;
}

// True when the panel still shows what its "record" shows: not edited.
bool AsRead(const json& panel, const sign_link::PanelRecord& record) {
  const json shown = PanelJson(0, record);
  return std::all_of(std::begin(kValueKeys), std::end(kValueKeys), [&](const char* key) {
    return panel.value(key, json()) == shown[key];
  });
}

// Parses the text and refuses an object that names a key twice, which a
// plain parse would settle silently by keeping the last.
json ParseWithoutDuplicateKeys(const std::string& text, const Refusal& Refuse) {
  std::vector<std::vector<std::string>> keys;
  std::optional<std::string> twice;
  const json::parser_callback_t check = [&keys, &twice](int, json::parse_event_t event,
                                                        json& parsed) {
    if (event == json::parse_event_t::object_start) keys.emplace_back();
    if (event == json::parse_event_t::object_end) keys.pop_back();
    if (event == json::parse_event_t::key) {
      const std::string& key = parsed.get_ref<const std::string&>();
      if (std::find(keys.back().begin(), keys.back().end(), key) != keys.back().end() && !twice)
        twice = key;
      keys.back().push_back(key);
    }
    return true;
  };
  json document = json::parse(text, check, false);
  if (document.is_discarded()) Refuse(Tr("not a JSON document"));
  if (twice) Refuse(Format("the key %s is given twice in one object", {Quoted(*twice)}));
  return document;
}

}  // namespace

std::optional<std::string> GradeName(char code) {
  const int index = sign_link::ViewFromRecord({"0000", code, '0'}).gradeIndex;
  if (index < 0 || index >= static_cast<int>(sign_link::kGradeNames.size())) return std::nullopt;
  return std::string(sign_link::kGradeNames[static_cast<size_t>(index)]);
}

bool Writable(const sign_link::PanelRecord& record) {
  const bool digits = record.price.size() == 4 &&
                      record.price.find_first_not_of("0123456789") == std::string::npos;
  // Grade code "0" is an entry row without a grade, as the window sends it.
  return (digits || record.price == "----") && (record.grade == '0' || GradeName(record.grade)) &&
         record.inscription >= '0' && record.inscription <= '3';
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
  // What the sign sent, byte for byte, so that a value a read cannot show
  // (a grade code "9") is not lost on its way back through --file.
  panel["record"] = record ? json(sign_link::BytesAsText(record->price + record->grade +
                                                          record->inscription))
                           : json();
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
  if (!panels.is_array()) Refuse(Tr("\"panels\" must be a list"));
  std::vector<PanelRequest> requests;
  int index = 0;
  for (const json& panel : panels) {
    const std::string where = "panels[" + std::to_string(index++) + "]";
    if (Unread(panel, where, Refuse)) continue;
    const std::optional<sign_link::PanelRecord> record = RecordOf(panel, where, Refuse);
    // A record that no request can carry is left as the sign holds it
    // unless its panel was edited.
    if (record && !Writable(*record) && AsRead(panel, *record)) continue;
    const PanelRequest request = RequestOf(panel, where, Refuse);
    const bool given = std::any_of(requests.begin(), requests.end(),
                                   [&](const auto& r) { return r.address == request.address; });
    if (given) Refuse(Format("panel %s is given twice", {std::to_string(request.address)}));
    requests.push_back(request);
  }
  return requests;
}

std::vector<PanelRequest> ParsePanelFile(const std::string& text) {
  const Refusal Refuse{Tr("bad --file")};
  const json document = ParseWithoutDuplicateKeys(text, Refuse);
  if (!document.is_object() || !document.contains("panels") || !document["panels"].is_array())
    Refuse(Tr("no \"panels\" list (give what `tarvo-cli read --json` prints)"));
  std::vector<PanelRequest> requests = ParsePanelList(document["panels"], Refuse.document);
  if (requests.empty())
    Refuse(Tr("no panel to write (every panel is unread or holds what a read cannot show)"));
  return requests;
}

std::vector<PanelRequest> ReadPanelFile(const std::string& path) {
  const auto refuse = [&path](const std::string& why) {
    throw InputError(Format("cannot read --file %s: %s", {Quoted(path), why}));
  };
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) refuse(std::strerror(errno));
  std::string text;
  struct stat info {};
  int error = fstat(fd, &info) != 0 ? errno : S_ISDIR(info.st_mode) ? EISDIR : 0;
  char buffer[65536];
  while (error == 0 && text.size() <= kMostFileBytes) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : 0;
      break;
    }
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  if (error != 0) refuse(std::strerror(error));
  if (text.size() > kMostFileBytes) refuse(Tr("larger than 1 MB, more than any panel file"));
  return ParsePanelFile(text);
}

std::string Dump(const json& document) {
  return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace station

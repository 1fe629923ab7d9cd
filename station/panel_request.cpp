#include "station/panel_request.h"

#include <algorithm>
#include <charconv>

#include "station/input_error.h"
#include "station/quoted.h"
#include "station/text.h"
#include "protocol/read_sign.h"

namespace station {

namespace {

constexpr int kRows = 5;
constexpr int kSecondHalf = 8;

const sign_exchange::ReadStep* StepOf(int address) {
  const auto& steps = sign_exchange::kReadSteps;
  const auto step = std::find_if(steps.begin(), steps.end(),
                                 [address](const auto& s) { return s.address == address; });
  return step == steps.end() ? nullptr : &*step;
}

[[noreturn]] void Refuse(const std::string& spec, const std::string& what) {
  throw InputError(Format("bad SPEC %s: %s", {Quoted(spec), what}));
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A whole decimal number of at most two digits as people write it (no sign,
// no leading zero), or nothing.
std::optional<int> SmallNumber(std::string_view text) {
  int value = 0;
  if (text.empty() || text.size() > 2 || !IsDigit(text[0]) || (text.size() > 1 && text[0] == '0'))
    return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

// The addresses the part before "=" names.
std::vector<uint8_t> Target(const std::string& spec, std::string_view target) {
  if (target.rfind("row", 0) == 0) {
    const std::optional<int> row = SmallNumber(target.substr(3));
    if (!row || *row < 1 || *row > kRows) Refuse(spec, Tr("a row is 1 (top) .. 5"));
    return {static_cast<uint8_t>(kRows - *row), static_cast<uint8_t>(kSecondHalf + kRows - *row)};
  }
  if (target.rfind("panel", 0) == 0) {
    const std::optional<int> address = SmallNumber(target.substr(5));
    if (!address || !IsPanelAddress(*address)) Refuse(spec, Tr("a panel is 0..4 or 8..12"));
    return {static_cast<uint8_t>(*address)};
  }
  Refuse(spec, Tr("give rowR=PRICE[:GRADE[:INSCRIPTION]] or panelA=PRICE[:GRADE[:INSCRIPTION]]"));
}

PanelRequest Fields(const std::string& spec, std::string_view values) {
  const std::vector<std::string_view> fields = Split(values, ':');
  if (fields.size() > 3) Refuse(spec, Tr("at most PRICE:GRADE:INSCRIPTION"));
  PanelRequest request;
  request.price = PriceCharacters(fields[0]);
  if (!request.price) Refuse(spec, Tr("a price is 45.60 (one or two digits, a dot, two digits) or -"));
  if (fields.size() > 1) {
    request.grade = GradeCode(fields[1]);
    if (!request.grade) Refuse(spec, Tr("a grade is 80, 92, 95, 98 or ДТ (DT)"));
  }
  if (fields.size() > 2) {
    const std::optional<int> inscription = SmallNumber(fields[2]);
    if (!inscription || *inscription > 3 || fields[2].size() != 1)
      Refuse(spec, Tr("an inscription is 0..3 (bit 0 \"Надпись 1\", bit 1 \"Надпись 2\")"));
    request.inscription = static_cast<char>('0' + *inscription);
  }
  return request;
}

}  // namespace

bool IsPanelAddress(int address) { return StepOf(address) != nullptr; }

int EntryRowOf(uint8_t address) { return StepOf(address)->entryRow; }

int HalfOf(uint8_t address) { return StepOf(address)->secondHalf ? 2 : 1; }

std::optional<std::string> PriceCharacters(std::string_view price) {
  if (price == "-" || price == "--.--") return std::string("----");
  const size_t dot = price.find('.');
  if (dot == std::string_view::npos || dot < 1 || dot > 2 || price.size() != dot + 3)
    return std::nullopt;
  std::string characters = dot == 1 ? "0" : "";
  for (size_t at = 0; at < price.size(); ++at) {
    if (at == dot) continue;
    if (!IsDigit(price[at])) return std::nullopt;
    characters += price[at];
  }
  return characters;
}

std::optional<char> GradeCode(std::string_view grade) {
  if (grade == "DT") grade = "ДТ";
  const auto& names = sign_link::kGradeNames;
  const auto name = std::find(names.begin(), names.end(), grade);
  if (name == names.end()) return std::nullopt;
  return static_cast<char>('1' + (name - names.begin()));
}

std::vector<PanelRequest> ParseSpecs(const std::vector<std::string>& specs) {
  std::vector<PanelRequest> requests;
  for (const std::string& spec : specs) {
    const size_t equals = spec.find('=');
    if (equals == std::string::npos) Refuse(spec, Tr("no \"=\" between the panel and its values"));
    const PanelRequest fields = Fields(spec, std::string_view(spec).substr(equals + 1));
    for (uint8_t address : Target(spec, std::string_view(spec).substr(0, equals))) {
      const bool named = std::any_of(requests.begin(), requests.end(),
                                     [address](const auto& r) { return r.address == address; });
      if (named) Refuse(spec, Format("panel %s is named twice", {std::to_string(address)}));
      PanelRequest request = fields;
      request.address = address;
      requests.push_back(request);
    }
  }
  return requests;
}

sign_link::PanelRecord Merged(const sign_link::PanelRecord& held, const PanelRequest& request) {
  return {request.price.value_or(held.price), request.grade.value_or(held.grade),
          request.inscription.value_or(held.inscription)};
}

bool Complete(const PanelRequest& request) {
  return request.price && request.grade && request.inscription;
}

}  // namespace station

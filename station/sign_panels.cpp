#include "station/text.h"
#include "station/sign_panels.h"

#include <cstdio>

#include "station/failure.h"
#include "station/panel_json.h"
#include "station/panel_request.h"
#include "protocol/read_sign.h"

namespace station {

SignPanels ReadPanels(SignLine& line, const std::string& where) {
  const sign_exchange::ExchangeContext& context = line.Context();
  SignPanels panels;
  for (const sign_exchange::ReadStep& step : sign_exchange::kReadSteps) {
    const sign_exchange::PanelReading reading =
        sign_exchange::ReadStepPanel(line.Port(), step, context);
    const std::string panel = std::to_string(step.address);
    if (!reading.good && !reading.heard.anyByte)
      throw CliFailure(ExitStatus::kNotConfirmed,
                       where + ": " +
                           station::Format("the sign does not answer: nothing came back to panel "
                                           "%s's requests; check the sign's cable and power",
                                           {panel}));
    if (!reading.good && reading.heard.cutShort)
      throw CliFailure(
          ExitStatus::kNotConfirmed,
          where + ": " +
              station::Format("the sign answers too slowly: the replies of panel %s were not "
                              "whole within %s ms; give them more time with --timeout MS",
                              {panel, std::to_string(context.answerTimeoutMs)}));
    panels[step.address] =
        reading.good ? std::optional(sign_link::DecodeReply(reading.reply)) : std::nullopt;
  }
  return panels;
}

nlohmann::json PanelsJson(const SignPanels& panels) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& [address, record] : panels) list.push_back(station::PanelJson(address, record));
  return list;
}

namespace {

// Pads to a width in characters, not bytes: "ДТ" is four bytes of UTF-8.
std::string Padded(const std::string& text, size_t width) {
  size_t characters = 0;
  for (char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return text + std::string(width > characters ? width - characters : 0, ' ');
}

}  // namespace

std::string RecordText(const sign_link::PanelRecord& record) {
  return sign_link::PriceText(record.price) + "  " +
         Padded(station::GradeName(record.grade).value_or("-"), 5) +
         std::to_string(station::InscriptionBits(record.inscription));
}

void PrintPanels(std::ostream& out, const SignPanels& panels) {
  out << station::Tr("panel  row  half  price  grade inscription") << '\n';
  for (const auto& [address, record] : panels) {
    char lead[32];
    std::snprintf(lead, sizeof lead, "%5d  %3d  %4d  ", address, station::EntryRowOf(address),
                  station::HalfOf(address));
    out << lead
        << (record ? RecordText(*record)
                   : std::string(sign_link::kBadReplyText) + "  " + station::Tr("no proper answer"))
        << '\n';
  }
}

}  // namespace station

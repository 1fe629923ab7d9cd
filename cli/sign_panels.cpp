#include "cli/sign_panels.h"

#include <cstdio>

#include "cli/panel_json.h"
#include "cli/panel_request.h"
#include "protocol/read_sign.h"

namespace tarvo_cli {

SignPanels ReadPanels(SignLine& line) {
  SignPanels panels;
  sign_exchange::ReadSign(
      line.Port(), line.Context(), [&panels](const sign_exchange::PanelReading& reading) {
        panels[reading.step.address] =
            reading.good ? std::optional(sign_link::DecodeReply(reading.reply)) : std::nullopt;
      });
  return panels;
}

nlohmann::json PanelsJson(const SignPanels& panels) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& [address, record] : panels) list.push_back(PanelJson(address, record));
  return list;
}

std::string RecordText(const sign_link::PanelRecord& record) {
  const std::string inscription = std::to_string(InscriptionBits(record.inscription));
  char text[64];
  std::snprintf(text, sizeof text, "%s  %-4s %s", sign_link::PriceText(record.price).c_str(),
                GradeName(record.grade).value_or("-").c_str(), inscription.c_str());
  return text;
}

void PrintPanels(std::ostream& out, const SignPanels& panels) {
  out << "panel  row  half  price  grade inscription\n";
  for (const auto& [address, record] : panels) {
    char lead[32];
    std::snprintf(lead, sizeof lead, "%5d  %3d  %4d  ", address, EntryRowOf(address),
                  HalfOf(address));
    out << lead
        << (record ? RecordText(*record)
                   : std::string(sign_link::kBadReplyText) + "  no proper answer")
        << '\n';
  }
}

}  // namespace tarvo_cli

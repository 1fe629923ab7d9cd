// Any bytes as a panel reply: the check and the decoding never read out of
// bounds, the check code is accepted exactly when it is the uppercase
// exclusive-or of offsets 0..11, and the decoding shows the reply's own bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "protocol/sign_link.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using tarvo::fuzz::Check;
using tarvo::fuzz::OwnCheckCode;

void CheckCheckCode(std::string_view reply) {
  const bool expected =
      reply.size() >= 14 && reply.substr(12, 2) == OwnCheckCode(reply.substr(0, 12));
  Check(sign_link::ReplyCheckCodeMatches(reply) == expected,
        expected ? "a reply with its check code matches" : "a reply without its check code fails",
        reply.size() >= 12 ? OwnCheckCode(reply.substr(0, 12)) : "a short reply",
        reply.size() >= 14 ? reply.substr(12, 2) : reply);
  Check(sign_link::CheckCode(reply) == OwnCheckCode(reply), "the check code is the exclusive-or",
        OwnCheckCode(reply), sign_link::CheckCode(reply));
}

void CheckPanelMarks(std::string_view reply) {
  const bool expected = reply.size() >= 12 && reply[0] == 'T' && reply.substr(10, 2) == "OK";
  Check(sign_link::ReplyIsPanel(reply) == expected, "a panel reply is T ... OK", "", reply);
}

void CheckDecoding(std::string_view reply) {
  const sign_link::PanelRecord record = sign_link::DecodeReply(reply);
  if (reply.size() >= 8) {
    const std::string shown = record.price + record.grade + record.inscription;
    Check(shown == reply.substr(2, 6), "a reply decodes into its offsets 2..7", reply.substr(2, 6),
          shown);
    const sign_link::PanelView view = sign_link::ViewFromRecord(record);
    const auto inscription = static_cast<unsigned char>(reply[7]);
    Check(view.gradeIndex == static_cast<unsigned char>(reply[6]) - 0x31,
          "the grade index is the grade code - 0x31", "", std::to_string(view.gradeIndex));
    Check(view.inscription1 == ((inscription & 1) != 0) &&
              view.inscription2 == ((inscription & 2) != 0),
          "the inscriptions are bits 0 and 1 of the code", "", reply.substr(7, 1));
  } else {
    Check(record == sign_link::PanelRecord{}, "a reply too short to decode gives an empty record",
          "", reply);
  }
  const std::string price = sign_link::ReplyPriceText(reply);
  if (reply.size() >= 6) {
    const std::string expected =
        std::string(reply.substr(2, 2)) + "." + std::string(reply.substr(4, 2));
    Check(price == expected, "the price text is offsets 2, 3, point, 4, 5", expected, price);
  } else {
    Check(price.empty(), "a reply too short for a price shows none", "", price);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  CheckCheckCode(reply);
  CheckPanelMarks(reply);
  CheckDecoding(reply);
  return 0;
}

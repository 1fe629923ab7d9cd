// Any bytes as a panel reply: the check and the decoding never read out of
// bounds, and a reply that passes both tests decodes into its own bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "protocol/sign_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  const bool matches = sign_link::ReplyCheckCodeMatches(reply);
  const bool panel = sign_link::ReplyIsPanel(reply);
  const sign_link::PanelRecord record = sign_link::DecodeReply(reply);
  const std::string price = sign_link::ReplyPriceText(reply);
  sign_link::ViewFromRecord(record);
  if (matches && panel) {
    if (record.price != reply.substr(2, 4) || price.size() != 5 || price[2] != '.') std::abort();
  }
  return 0;
}

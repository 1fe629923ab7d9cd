#pragma once
// The sign link's vocabulary: addresses, read requests, write frames, the
// check code, panel replies and panel records. Pure functions on bytes.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sign_link {

// Panel addresses 0..4 (first half) and 8..12 (second half).
char AddressChar(uint8_t address);

// "R", address character, "E".
std::string ReadRequest(uint8_t address);

// Two uppercase hexadecimal digits of the exclusive-or of all bytes, high
// nibble first; the leading zero is kept.
std::string CheckCode(std::string_view bytes);

// Six characters: four price characters, grade code, inscription code.
struct PanelRecord {
  std::string price = "0000";
  char grade = '1';
  char inscription = '0';
  bool operator==(const PanelRecord&) const = default;
};

// Why the link cannot carry the record to the address, or nothing when it
// can: a panel address (0..4, 8..12), four price characters that are digits
// or all "-", a grade code "0".."5" ("0": no grade chosen) and an inscription
// code "0".."3".
std::optional<std::string> RecordFault(uint8_t address, const PanelRecord& record);

// "W", address character, record, "E" (9 bytes). A record that RecordFault
// finds fault with is refused with std::invalid_argument, so that nothing but
// a whole, well-formed frame is ever made, whatever the caller passed.
std::string WriteFrameBody(uint8_t address, const PanelRecord& record);
// The body followed by its check code (11 bytes); refused as the body is.
std::string WriteFrame(uint8_t address, const PanelRecord& record);

// Panel reply: offsets 12 and 13 equal the check code of offsets 0..11,
// byte for byte (lowercase digits do not match). Short replies never match.
bool ReplyCheckCodeMatches(std::string_view reply);
// "T" at offset 0 and "OK" at offsets 10..11.
bool ReplyIsPanel(std::string_view reply);
// Record carried by a reply of at least 8 bytes (offsets 2..7).
PanelRecord DecodeReply(std::string_view reply);
// Price text of a reply: offsets 2, 3, ".", 4, 5.
std::string ReplyPriceText(std::string_view reply);
// Price text of four price characters: two, ".", two.
std::string PriceText(std::string_view priceCharacters);

// What a display label shows for a panel that gave no proper reply.
inline constexpr std::string_view kBadReplyText = "XX.XX";

// The bytes as text, one character each (byte b is U+00bb), in UTF-8: how
// the window shows what came off the line, in its labels, fields and log.
std::string BytesAsText(std::string_view bytes);

// One entry row's values as the window gives them.
struct EntryRow {
  bool notUsed = false;             // "Не исп." ticked
  bool inscription1 = false;        // "Надпись 1"
  bool inscription2 = false;        // "Надпись 2"
  int gradeIndex = 0;               // -1 when no item is selected
  std::string priceText = "  .  ";  // five characters, point in the third place
};

// The record an entry row sends: blanks as "0", "Не исп." as "----", grade
// index + 0x31 (no selection "0"), inscriptions "0"/"1"/"2".
PanelRecord RecordFromEntry(const EntryRow& row);

// What a read shows of a record: grade index (code - 0x31, outside the list
// for codes other than "1".."5"), inscription bits 0 and 1.
struct PanelView {
  int gradeIndex;
  bool inscription1;
  bool inscription2;
};
PanelView ViewFromRecord(const PanelRecord& record);

// The grade list's items, in the order of the codes "1".."5".
inline constexpr std::array<std::string_view, 5> kGradeNames = {"80", "92", "95", "98", "ДТ"};

}  // namespace sign_link

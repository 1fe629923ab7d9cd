// The sign link codec against vectors worked out by hand (exclusive-or of the
// bytes, written as two uppercase hex digits), never against our own encoder.
#include "protocol/sign_link.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using sign_link::EntryRow;
using sign_link::PanelRecord;

struct FrameVector {
  const char* what;
  uint8_t address;
  PanelRecord record;
  const char* frame;
};

TEST(WriteFrame, MatchesTheSignsDocumentedFrames) {
  const std::vector<FrameVector> vectors = {
      {"panel 0, 12.34, grade 92, inscription 1", 0, {"1234", '2', '1'}, "W0123421E25"},
      {"panel 8, 45.60, grade 95, no inscription", 8, {"4560", '3', '0'}, "W8456030E2E"},
      {"panel 0 unused, grade 80", 0, {"----", '1', '0'}, "W0----10E23"},
      {"panel 8, the same row as W0123421E25", 8, {"1234", '2', '1'}, "W8123421E2D"},
      {"panel 0 unused, grade 95", 0, {"----", '3', '0'}, "W0----30E21"},
      {"panel 8 unused, grade 95", 8, {"----", '3', '0'}, "W8----30E29"},
      {"panel 0 empty price, grade 80, no inscription", 0, {"0000", '1', '0'}, "W0000010E23"},
  };
  for (const FrameVector& v : vectors) {
    EXPECT_EQ(sign_link::WriteFrame(v.address, v.record), v.frame) << v.what;
    EXPECT_EQ(sign_link::WriteFrameBody(v.address, v.record), std::string(v.frame, 9)) << v.what;
  }
}

// Whatever a caller passes, only a whole frame of the link's own characters
// may go on the line: a three-character price would take the next frame's
// first byte into this one.
TEST(WriteFrame, RefusesARecordTheLinkCannotCarry) {
  const std::vector<std::pair<const char*, std::pair<uint8_t, PanelRecord>>> refused = {
      {"three price characters", {4, {"056", '5', '0'}}},
      {"five price characters", {4, {"05600", '5', '0'}}},
      {"a point among the price characters", {4, {"5.6.", '5', '0'}}},
      {"digits and dashes mixed", {4, {"12--", '1', '0'}}},
      {"a letter for a digit", {4, {"12A4", '1', '0'}}},
      {"grade code 6", {0, {"1234", '6', '0'}}},
      {"no grade code at all", {0, {"1234", '\0', '0'}}},
      {"inscription code 4", {0, {"1234", '1', '4'}}},
      {"address 5, which has no panel", {5, {"1234", '1', '0'}}},
      {"address 13", {13, {"1234", '1', '0'}}},
  };
  for (const auto& [what, frame] : refused) {
    EXPECT_TRUE(sign_link::RecordFault(frame.first, frame.second)) << what;
    EXPECT_THROW(sign_link::WriteFrame(frame.first, frame.second), std::invalid_argument) << what;
    EXPECT_THROW(sign_link::WriteFrameBody(frame.first, frame.second), std::invalid_argument)
        << what;
  }
  // What the window sends for a row without a grade chosen, and the inscription
  // code whose bits tick both boxes.
  EXPECT_EQ(sign_link::RecordFault(0, {"0000", '0', '3'}), std::nullopt);
}

TEST(CheckCode, IsTwoUppercaseDigitsKeepingTheLeadingZero) {
  EXPECT_EQ(sign_link::CheckCode("AB"), "03");  // 0x41 ^ 0x42
  EXPECT_EQ(sign_link::CheckCode("ZP"), "0A");  // 0x5A ^ 0x50: a letter digit after a zero
  EXPECT_EQ(sign_link::CheckCode("T845603000OK"), "6C");
  EXPECT_EQ(sign_link::CheckCode(""), "00");
  EXPECT_EQ(sign_link::CheckCode(std::string("\xFF\x01", 2)), "FE");  // bytes above 0x7F too
}

TEST(AddressChar, IsOneByteFrom0x30Up_TenToTwelveAreColonSemicolonLess) {
  const std::vector<std::pair<uint8_t, char>> expected = {{0, '0'},  {1, '1'}, {2, '2'}, {3, '3'},
                                                          {4, '4'},  {8, '8'}, {9, '9'}, {10, ':'},
                                                          {11, ';'}, {12, '<'}};
  for (const auto& [address, character] : expected) {
    EXPECT_EQ(sign_link::AddressChar(address), character) << "address " << int(address);
  }
  EXPECT_EQ(sign_link::ReadRequest(0), "R0E");
  EXPECT_EQ(sign_link::ReadRequest(10), "R:E");
  EXPECT_EQ(sign_link::ReadRequest(11), "R;E");
  EXPECT_EQ(sign_link::ReadRequest(12), "R<E");
  EXPECT_EQ(sign_link::WriteFrame(12, {"1234", '2', '1'}).substr(0, 2), "W<");
}

TEST(ReplyCheckCode, MatchesOnlyTheExactUppercaseDigits) {
  EXPECT_TRUE(sign_link::ReplyCheckCodeMatches("T012342100OK67"));
  EXPECT_TRUE(sign_link::ReplyCheckCodeMatches("T0123421A,OK0A")) << "leading zero kept";
  EXPECT_TRUE(sign_link::ReplyCheckCodeMatches("T012342100OK67xyz"))
      << "bytes after 14 are not looked at";
  EXPECT_FALSE(sign_link::ReplyCheckCodeMatches("T0123421A,OKA ")) << "leading zero dropped";
  EXPECT_FALSE(sign_link::ReplyCheckCodeMatches("T845603000OK6c")) << "lowercase digit";
  EXPECT_FALSE(sign_link::ReplyCheckCodeMatches("T845603000OK7C")) << "wrong first digit";
  EXPECT_FALSE(sign_link::ReplyCheckCodeMatches("T845603000OK6D")) << "wrong second digit";
}

TEST(ReplyCheckCode, ShortRepliesNeverMatch) {
  EXPECT_FALSE(sign_link::ReplyCheckCodeMatches(""));
  EXPECT_FALSE(sign_link::ReplyCheckCodeMatches("T012342100OK6")) << "13 bytes";
  EXPECT_FALSE(sign_link::ReplyCheckCodeMatches("T012342100O")) << "11 bytes";
  // The read's filler: twelve blanks give "00", which the two blanks after them are not.
  EXPECT_FALSE(sign_link::ReplyCheckCodeMatches(std::string(16, ' ')));
}

TEST(PanelReply, NeedsTAndOkAndDecodesOffsetsTwoToSeven) {
  EXPECT_TRUE(sign_link::ReplyIsPanel("T012342100OK67"));
  EXPECT_FALSE(sign_link::ReplyIsPanel("X012342100OK67"));
  EXPECT_FALSE(sign_link::ReplyIsPanel("T012342100NO67"));
  EXPECT_FALSE(sign_link::ReplyIsPanel("T0123421"));

  EXPECT_EQ(sign_link::DecodeReply("T845603000OK6C"), (PanelRecord{"4560", '3', '0'}));
  EXPECT_EQ(sign_link::ReplyPriceText("T845603000OK6C"), "45.60");
  EXPECT_EQ(sign_link::ReplyPriceText("T<----0000OK6C"), "--.--")
      << "prices are not checked for digits";
}

TEST(RecordFromEntry, TurnsBlanksToZerosAndUnusedToDashes) {
  EntryRow row;
  row.priceText = "4 .5 ";  // 40.50 as the masked field shows it
  row.gradeIndex = 1;
  EXPECT_EQ(sign_link::RecordFromEntry(row), (PanelRecord{"4050", '2', '0'}));

  row.priceText = "  .  ";
  EXPECT_EQ(sign_link::RecordFromEntry(row).price, "0000");

  row.priceText = "--.--";  // a field filled by a read of an unused panel is sent as it is
  EXPECT_EQ(sign_link::RecordFromEntry(row).price, "----");

  row.priceText = "12.34";
  row.notUsed = true;
  EXPECT_EQ(sign_link::RecordFromEntry(row).price, "----") << "whatever the field holds";
}

TEST(RecordFromEntry, CodesGradeAndInscriptions) {
  EntryRow row;
  row.priceText = "12.34";
  const std::vector<std::pair<int, char>> grades = {{-1, '0'}, {0, '1'}, {2, '3'}, {4, '5'}};
  for (const auto& [index, code] : grades) {
    row.gradeIndex = index;
    EXPECT_EQ(sign_link::RecordFromEntry(row).grade, code) << "grade index " << index;
  }
  const struct {
    bool first, second;
    char code;
  } inscriptions[] = {
      {false, false, '0'}, {true, false, '1'}, {false, true, '2'}, {true, true, '2'}};
  for (const auto& i : inscriptions) {
    row.inscription1 = i.first;
    row.inscription2 = i.second;
    EXPECT_EQ(sign_link::RecordFromEntry(row).inscription, i.code)
        << "Надпись 1 " << i.first << ", Надпись 2 " << i.second;
  }
  row = {false, true, false, 1, "12.34"};
  EXPECT_EQ(sign_link::WriteFrame(0, sign_link::RecordFromEntry(row)), "W0123421E25");
  // An empty field with grade 80 and Надпись 1 ticked: 0x57^0x30^4*0x30^0x31^0x31^0x45 = 0x22.
  row = {false, true, false, 0, "  .  "};
  EXPECT_EQ(sign_link::WriteFrame(0, sign_link::RecordFromEntry(row)), "W0000011E22");
}

TEST(ViewFromRecord, GradeCodeMinus0x31AndInscriptionBits) {
  const auto view = [](char grade, char inscription) {
    return sign_link::ViewFromRecord({"1234", grade, inscription});
  };
  EXPECT_EQ(view('1', '0').gradeIndex, 0);
  EXPECT_EQ(view('5', '0').gradeIndex, 4);
  EXPECT_EQ(view('0', '0').gradeIndex, -1) << "no grade selected";
  EXPECT_EQ(view('6', '0').gradeIndex, 5) << "outside the list";

  EXPECT_FALSE(view('1', '0').inscription1);
  EXPECT_FALSE(view('1', '0').inscription2);
  EXPECT_TRUE(view('1', '1').inscription1);
  EXPECT_FALSE(view('1', '1').inscription2);
  EXPECT_FALSE(view('1', '2').inscription1) << "\"2\" ticks only Надпись 2";
  EXPECT_TRUE(view('1', '2').inscription2);
  EXPECT_TRUE(view('1', '3').inscription1);
  EXPECT_TRUE(view('1', '3').inscription2);
}

}  // namespace

// What a write may be asked: SPECs on the command line and the --file that
// `read --json` prints. Bad input is refused with a message naming it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "station/input_error.h"
#include "station/panel_json.h"
#include "station/panel_request.h"

namespace {

using station::PanelRequest;

struct GoodSpec {
  const char* name;
  std::vector<std::string> specs;
  std::vector<station::PanelRequest> requests;
};

const GoodSpec kGoodSpecs[] = {
    {"RowFeedsBothHalves", {"row1=45.60:95:1"}, {{4, "4560", '3', '1'}, {12, "4560", '3', '1'}}},
    {"BottomRowIsPanelsZeroAndEight", {"row5=12.34"}, {{0, "1234", {}, {}}, {8, "1234", {}, {}}}},
    {"OneDigitPriceGetsItsLeadingZero", {"panel10=5.60:80"}, {{10, "0560", '1', {}}}},
    {"DashIsAnUnusedPanel", {"panel8=-:ДТ:3"}, {{8, "----", '5', '3'}}},
    {"LatinDtIsDiesel", {"panel0=99.99:DT:0"}, {{0, "9999", '5', '0'}}},
};

class GoodSpecTest : public ::testing::TestWithParam<GoodSpec> {};

TEST_P(GoodSpecTest, GivesThePanelsAndFields) {
  EXPECT_EQ(station::ParseSpecs(GetParam().specs), GetParam().requests);
}

INSTANTIATE_TEST_SUITE_P(Specs, GoodSpecTest, ::testing::ValuesIn(kGoodSpecs),
                         [](const auto& param) { return std::string(param.param.name); });

struct BadInput {
  const char* name;
  std::string input;
  const char* said;  // a piece of the message
};

const BadInput kBadSpecs[] = {
    {"PriceWithOneDecimal", "row1=4.5", "a price is"},
    {"PriceWithThreeWholeDigits", "row1=123.45", "a price is"},
    {"PriceWithLetters", "row1=1a.45", "a price is"},
    {"RowZero", "row0=12.34", "a row is"},
    {"RowSix", "row6=12.34", "a row is"},
    {"PanelFive", "panel5=12.34", "a panel is"},
    {"UnknownGrade", "row1=12.34:91", "a grade is"},
    {"InscriptionFour", "row1=12.34:92:4", "an inscription is"},
    {"TooManyFields", "row1=12.34:92:1:0", "at most"},
    {"NoEquals", "row1", "no \"=\""},
    {"UnknownTarget", "lane1=12.34", "give rowR="},
    {"NegativeZeroPanel", "panel-0=45.60", "a panel is"},
    {"RowWithLeadingZero", "row01=45.60", "a row is"},
    {"PanelWithLeadingZero", "panel08=45.60", "a panel is"},
    {"PriceWithASecondDot", "row1=5.6.:DT", "a price is"},
};

class BadSpecTest : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadSpecTest, IsRefusedAsBadUsageNamingTheSpec) {
  try {
    station::ParseSpecs({GetParam().input});
    FAIL() << "accepted " << GetParam().input;
  } catch (const station::InputError& failure) {
    EXPECT_NE(std::string(failure.what()).find(GetParam().input), std::string::npos)
        << failure.what();
    EXPECT_NE(std::string(failure.what()).find(GetParam().said), std::string::npos)
        << failure.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Specs, BadSpecTest, ::testing::ValuesIn(kBadSpecs),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(SpecTest, APanelNamedTwiceIsRefused) {
  EXPECT_THROW(station::ParseSpecs({"row5=12.34", "panel8=-"}), station::InputError);
}

TEST(SpecTest, TheRefusalQuotesTheSpecSoThatItStaysOneLine) {
  try {
    station::ParseSpecs({"row1=1\n\"2\x1b"});
    FAIL() << "accepted";
  } catch (const station::InputError& failure) {
    EXPECT_EQ(std::string(failure.what()).substr(0, 27), R"(bad SPEC "row1=1\n\"2\x1b":)");
  }
}

TEST(PanelFileTest, WhatReadPrintsReadsBackAsTheSameRequests) {
  const std::vector<station::PanelRequest> written = {{4, "4560", '3', '1'}, {12, "----", '5', '3'}};
  nlohmann::json panels = nlohmann::json::array();
  for (const station::PanelRequest& r : written)
    panels.push_back(station::PanelJson(r.address, station::Merged({}, r)));
  // A panel that did not answer is left alone.
  panels.push_back(station::PanelJson(0, std::nullopt));
  EXPECT_EQ(station::ParsePanelFile(station::Dump({{"port", "COM3"}, {"panels", panels}})),
            written);
}

// A panel read with "ok": false and then filled in by hand is written.
TEST(PanelFileTest, AnUnreadPanelFilledInIsAskedFor) {
  nlohmann::json panel = station::PanelJson(0, std::nullopt);
  panel["price"] = "45.60";
  panel["grade"] = "95";
  panel["inscription"] = 2;
  EXPECT_EQ(station::ParsePanelFile(station::Dump({{"panels", {panel}}})),
            (std::vector<PanelRequest>{{0, "4560", '3', '2'}}));
}

// Inscription code "9" reads as inscription 1: an unedited panel is left as
// the sign holds it; an edited one is written as it shows.
TEST(PanelFileTest, ARecordAReadCannotShowIsLeftAloneUnlessEdited) {
  const sign_link::PanelRecord odd{"4560", '3', '9'};
  const sign_link::PanelRecord plain{"1234", '1', '0'};
  nlohmann::json panels = nlohmann::json::array({station::PanelJson(1, odd), station::PanelJson(2, plain)});
  EXPECT_EQ(panels[0]["record"], "456039");
  EXPECT_EQ(station::ParsePanelFile(station::Dump({{"panels", panels}})),
            (std::vector<PanelRequest>{{2, "1234", '1', '0'}}));
  panels[0]["price"] = "45.70";
  EXPECT_EQ(station::ParsePanelFile(station::Dump({{"panels", panels}}))[0],
            (PanelRequest{1, "4570", '3', '1'}));
}

TEST(PanelFileTest, AFileThatIsNoPanelFileIsRefusedNamingIt) {
  const std::string folder = ::testing::TempDir() + "panel-files";
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/huge.json") << std::string((1 << 20) + 1, ' ');
  for (const std::string& path : {folder, folder + "/huge.json", std::string("/dev/zero")}) {
    try {
      station::ReadPanelFile(path);
      FAIL() << "accepted " << path;
    } catch (const station::InputError& failure) {
      EXPECT_NE(std::string(failure.what()).find("--file \"" + path + "\""), std::string::npos)
          << failure.what();
    }
  }
}

const BadInput kBadFiles[] = {
    {"NoPanelAtAll", R"({"panels": []})", "no panel to write"},
    {"OnlyUnreadPanels", R"({"panels":[{"address":0,"ok":false,"price":null}]})",
     "no panel to write"},
    {"PanelsTwice", R"({"panels":[{"address":0,"price":"12.34"}],"panels":[]})", "given twice"},
    {"ShortRecord", R"({"panels":[{"address":0,"ok":true,"record":"12","price":"12.34"}]})",
     "\"record\""},
    {"NotJson", "{\"panels\": [", "not a JSON document"},
    {"NoPanels", "{\"port\": \"COM3\"}", "no \"panels\""},
    {"RowOfAnotherPanel", R"({"panels":[{"address":0,"row":4,"price":"12.34"}]})", "in row 5"},
    {"HalfOfAnotherPanel", R"({"panels":[{"address":8,"half":1,"price":"12.34"}]})", "in half 2"},
    {"AddressFive", R"({"panels":[{"address":5,"price":"12.34"}]})", "0..4 or 8..12"},
    {"HugeAddress", R"({"panels":[{"address":4294967296,"price":"12.34"}]})", "0..4 or 8..12"},
    {"BadPrice", R"({"panels":[{"address":0,"price":"4.5"}]})", "\"price\""},
    {"BadGrade", R"({"panels":[{"address":0,"price":"12.34","grade":"91"}]})", "\"grade\""},
    {"BadInscription", R"({"panels":[{"address":0,"price":"12.34","inscription":4}]})",
     "\"inscription\""},
    {"PanelTwice", R"({"panels":[{"address":0,"price":"12.34"},{"address":0,"price":"12.35"}]})",
     "given twice"},
    {"OkNotABoolean", R"({"panels":[{"address":0,"ok":"yes","price":"12.34"}]})", "\"ok\""},
};

class BadFileTest : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadFileTest, IsRefusedAsBadUsage) {
  try {
    station::ParsePanelFile(GetParam().input);
    FAIL() << "accepted " << GetParam().input;
  } catch (const station::InputError& failure) {
    EXPECT_NE(std::string(failure.what()).find(GetParam().said), std::string::npos)
        << failure.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Files, BadFileTest, ::testing::ValuesIn(kBadFiles),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace

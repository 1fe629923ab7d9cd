// The fleet's documents and topics: what each side may send is taken back
// unchanged, and every malformed document is refused with its reason.
#include "mqtt/documents.h"

#include <gtest/gtest.h>

#include "mqtt/topics.h"

namespace {

using namespace tarvo_mqtt;

WallTime At(const char* text) { return *station::ParseRfc3339(text); }

TEST(Documents, EachTakesBackWhatItWrote) {
  const Desired desired{
      7,
      "c-1",
      "head-office",
      {{4, "4560", '3', '1'}, {12, "----", std::nullopt, std::nullopt}},
      "auto",
      {{"c-0", "head-office", At("2026-12-09T06:00:00+03:00"), {{0, "4570", {}, {}}}, "5"}}};
  EXPECT_EQ(ParseDesired(Serialise(desired)), desired);
  Reported reported{7,
                    "c-1",
                    StationState::kScheduled,
                    {{0, "0999", '5', '0'}},
                    Verification{At("2026-12-08T10:00:00.250Z"), false},
                    std::nullopt,
                    3,
                    {{8, "c-2", At("2026-12-09T03:00:00Z")}},
                    LocalOverride{"l-1", "operator", At("2026-12-08T09:00:00Z"), {0, 8}},
                    RefusedPlan{6, "c-9", "conflict"},
                    "0.1",
                    "boot"};
  EXPECT_EQ(ParseReported(Serialise(reported)), reported);
  EXPECT_EQ(ParseStatus(Serialise(Status{false, 12})), (Status{false, 12}));
  const Event event{"boot", 3, At("2026-12-08T10:00:00Z"), "drift-found", "panel 4 showed 45.50",
                    7};
  EXPECT_EQ(ParseEvent(Serialise(event)), event);
}

TEST(Documents, TimesAreSentInUtc) {
  Desired desired{1, "c", "i", {}, "5", {{"e", "i", At("2026-12-09T06:00:00+03:00"), {}, {}}}};
  EXPECT_NE(Serialise(desired).find("\"effective_at\":\"2026-12-09T03:00:00Z\""),
            std::string::npos);
  EXPECT_NE(Serialise(desired).find("\"brightness\":5"), std::string::npos);
}

struct Malformed {
  const char* name;
  std::string (*check)(const std::string&);  // parses, returns the refusal's text
  std::string payload;
  const char* said;
};

template <auto Parse>
std::string Refusal(const std::string& payload) {
  try {
    Parse(payload);
  } catch (const DocumentError& error) {
    return error.what();
  }
  return "accepted";
}

const std::string kDesired = R"("change_id":"c","issuer":"i","scheduled":[],"brightness":null)";
const std::string kReported =
    R"("change_id":null,"panels":[],"last_verification":null,"verified_at":null,"override":null,"version":"v","boot_id":"b")";
const std::string kPanel = R"({"address":4,"price":"45.60","grade":"95","inscription":1})";

const Malformed kMalformed[] = {
    {"NotJson", Refusal<ParseDesired>, "{rev", "desired: not a JSON document"},
    {"NotAnObject", Refusal<ParseDesired>, "[1]", "desired: not a JSON object"},
    {"RevZero", Refusal<ParseDesired>, R"({"rev":0,"panels":[],)" + kDesired + "}", "\"rev\""},
    {"RevText", Refusal<ParseDesired>, R"({"rev":"3","panels":[],)" + kDesired + "}", "\"rev\""},
    {"RevMissing", Refusal<ParseDesired>, R"({"panels":[],)" + kDesired + "}", "no \"rev\""},
    {"UnknownKey", Refusal<ParseDesired>, R"({"rev":1,"panels":[],"prices":[],)" + kDesired + "}",
     "unknown key \"prices\""},
    {"RevBeyondTheHighest", Refusal<ParseDesired>,
     R"({"rev":9223372036854775807,"panels":[],)" + kDesired + "}", "\"rev\" must be"},
    {"BadTime", Refusal<ParseDesired>,
     R"({"rev":1,"panels":[],"change_id":"c","issuer":"i","brightness":null,"scheduled":[)"
     R"({"change_id":"e","issuer":"i","effective_at":"tomorrow","panels":[],"brightness":null}]})",
     "desired.scheduled[0]: \"effective_at\" must be an RFC 3339 time"},
    {"EntriesOutOfOrder", Refusal<ParseDesired>,
     R"({"rev":1,"panels":[],"change_id":"c","issuer":"i","brightness":null,"scheduled":[)"
     R"({"change_id":"e","issuer":"i","effective_at":"2026-12-09T06:00:00Z","panels":[],"brightness":null},)"
     R"({"change_id":"f","issuer":"i","effective_at":"2026-12-09T05:00:00Z","panels":[],"brightness":null}]})",
     "in the order of their times"},
    {"BrightnessTen", Refusal<ParseDesired>,
     R"({"rev":1,"panels":[],"change_id":"c","issuer":"i","scheduled":[],"brightness":10})",
     "\"brightness\""},
    {"PanelFive", Refusal<ParseDesired>,
     R"({"rev":1,"panels":[{"address":5,"price":"45.60"}],)" + kDesired + "}",
     "desired: panels[0]: a panel address"},
    {"PanelTwice", Refusal<ParseDesired>,
     R"({"rev":1,"panels":[)" + kPanel + "," + kPanel + "]," + kDesired + "}", "given twice"},
    {"BadPrice", Refusal<ParseDesired>,
     R"({"rev":1,"panels":[{"address":4,"price":"4.5"}],)" + kDesired + "}", "\"price\""},
    {"EmptyChangeId", Refusal<ParseDesired>,
     R"({"rev":1,"panels":[],"change_id":"","issuer":"i","scheduled":[],"brightness":null})",
     "\"change_id\""},
    {"UnknownState", Refusal<ParseReported>,
     R"({"rev":null,"state":"fine","drift_count":0,"pending":[],"refused":null,)" + kReported + "}",
     "\"state\" must be"},
    {"PendingWithoutTime", Refusal<ParseReported>,
     R"({"rev":null,"state":"scheduled","drift_count":0,"refused":null,)"
     R"("pending":[{"rev":2,"change_id":"c","effective_at":null}],)" + kReported + "}",
     "reported.pending[0]: \"effective_at\""},
    {"NegativeDrift", Refusal<ParseReported>,
     R"({"rev":null,"state":"verified","drift_count":-1,"pending":[],"refused":null,)" + kReported + "}",
     "\"drift_count\""},
    {"RefusedForNoReason", Refusal<ParseReported>,
     R"({"rev":null,"state":"verified","drift_count":0,"pending":[],)"
     R"("refused":{"rev":2,"change_id":"c","reason":"bored"},)" + kReported + "}",
     "\"reason\" must be stale or conflict"},
    {"StatusAway", Refusal<ParseStatus>, R"({"state":"away","session":1})", "\"state\""},
    {"StatusNoSession", Refusal<ParseStatus>, R"({"state":"online"})", "no \"session\""},
    {"EventSeqZero", Refusal<ParseEvent>,
     R"({"boot_id":"b","seq":0,"at":"2026-12-08T10:00:00Z","kind":"started","text":"","rev":null})",
     "\"seq\""},
    {"EventKindSpaced", Refusal<ParseEvent>,
     R"({"boot_id":"b","seq":1,"at":"2026-12-08T10:00:00Z","kind":"Drift Found","text":"","rev":null})",
     "\"kind\""},
};

class MalformedTest : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedTest, IsRefusedWithItsReason) {
  const std::string refusal = GetParam().check(GetParam().payload);
  EXPECT_NE(refusal.find(GetParam().said), std::string::npos) << refusal;
}

INSTANTIATE_TEST_SUITE_P(Documents, MalformedTest, ::testing::ValuesIn(kMalformed),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(Topics, NameAndParseBack) {
  EXPECT_EQ(Topic("S-12_a", TopicKind::kCmdVerify), "tarvo/v1/S-12_a/cmd/verify");
  EXPECT_EQ(ParseTopic("tarvo/v1/S-12_a/cmd/verify"),
            (StationTopic{"S-12_a", TopicKind::kCmdVerify}));
  EXPECT_EQ(EveryStation(TopicKind::kStatus), "tarvo/v1/+/status");
  for (const char* outside : {"tarvo/v1/S1/prices", "tarvo/v2/S1/desired", "tarvo/v1/S+1/desired",
                              "tarvo/v1/.sync/x", "tarvo/v1/S1"})
    EXPECT_EQ(ParseTopic(outside), std::nullopt) << outside;
  for (const char* id : {"", "S/1", "S#", "S+", "S 1", "Ст1"})
    EXPECT_THROW(Topic(id, TopicKind::kDesired), std::invalid_argument) << id;
}

TEST(Rfc3339, ReadsOffsetsAndRefusesImpossibleDays) {
  EXPECT_EQ(station::Rfc3339Utc(At("2026-12-09T06:00:00.5+03:00")), "2026-12-09T03:00:00.500Z");
  for (const char* bad : {"2026-02-30T00:00:00Z", "2026-12-09T24:00:00Z", "2026-12-09T06:00:00",
                          "2026-12-09T06:00:00+3:00", "2026-12-09"})
    EXPECT_EQ(station::ParseRfc3339(bad), std::nullopt) << bad;
}

}  // namespace

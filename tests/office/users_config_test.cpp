// The office's users file and settings file, without a running service.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "office/office_config.h"
#include "office/users.h"
#include "tests/support/hermetic_env.h"

namespace {

using namespace office;

TEST(OfficeUsers, PasswordsAreYescryptHashesAndOnlyTheRightOneLogsIn) {
  tarvo::test::HermeticEnv env;
  const std::string file = env.Root() + "/users";
  SetPassword(file, "anna", Role::kViewer, "first");
  SetPassword(file, "boris", Role::kPricing, "other");
  SetPassword(file, "anna", Role::kPricing, "second");  // changed: the old one no longer counts
  std::ifstream text(file);
  const std::string content((std::istreambuf_iterator<char>(text)), {});
  EXPECT_NE(content.find("anna:pricing:$y$"), std::string::npos) << content;
  EXPECT_EQ(content.find("second"), std::string::npos);
  EXPECT_FALSE(CheckPassword(file, "anna", "first"));
  EXPECT_FALSE(CheckPassword(file, "nobody", "second"));
  const std::optional<User> anna = CheckPassword(file, "anna", "second");
  ASSERT_TRUE(anna);
  EXPECT_EQ(anna->role, Role::kPricing);
  EXPECT_EQ(CheckPassword(file, "boris", "other")->role, Role::kPricing);
  EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::others_read,
            std::filesystem::perms::none);
  EXPECT_THROW(SetPassword(file, "a:b", Role::kViewer, "x"), std::runtime_error);
}

struct BadSetting {
  const char* name;
  const char* text;
  const char* names;  // what the refusal must say
};

class OfficeConfigRefusal : public ::testing::TestWithParam<BadSetting> {};

TEST_P(OfficeConfigRefusal, NamesTheKey) {
  tarvo::test::HermeticEnv env;
  const std::string path = env.Root() + "/office.toml";
  std::ofstream(path) << GetParam().text;
  try {
    LoadConfig(path, true);
    FAIL() << "accepted";
  } catch (const ConfigError& error) {
    EXPECT_NE(std::string(error.what()).find(GetParam().names), std::string::npos) << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Office, OfficeConfigRefusal,
    ::testing::Values(
        BadSetting{"OpenAddressWithoutTls", "[http]\nlisten = \"0.0.0.0:8480\"\n", "http.listen"},
        BadSetting{"NotAnAddress", "[http]\nlisten = \"office:8480\"\n", "http.listen"},
        BadSetting{"CertWithoutKey", "[http]\ncert_file = \"/x.crt\"\n", "http.cert_file"},
        BadSetting{"BadBrokerUrl", "[broker]\nurl = \"http://x\"\n", "broker.url"},
        BadSetting{"UnknownKey", "[broker]\nhost = \"x\"\n", "broker.host"},
        BadSetting{"BadGroupMember", "[groups]\nnorth = [\"a/b\"]\n", "groups.north"},
        BadSetting{"BadTimeout", "[http]\npush_timeout_s = 0\n", "http.push_timeout_s"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(OfficeConfig, AnOpenAddressIsTakenWithTls) {
  tarvo::test::HermeticEnv env;
  const std::string path = env.Root() + "/office.toml";
  std::ofstream(path) << "[http]\nlisten = \"0.0.0.0:8443\"\ncert_file = \"/c\"\nkey_file = \"/k\"\n"
                      << "[groups]\nnorth = [\"north-1\", \"north-2\"]\n";
  const OfficeConfig config = LoadConfig(path, true);
  EXPECT_EQ(config.listenPort, 8443);
  EXPECT_EQ(config.groups.at("north").size(), 2u);
}

}  // namespace

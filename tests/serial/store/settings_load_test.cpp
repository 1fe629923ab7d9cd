// Reading stored settings back: a round trip through both targets, values
// checked before they reach the port, and the load error.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "serial/CPort.h"
#include "tests/support/hermetic_env.h"

namespace {

using tarvo::test::HermeticEnv;

constexpr const char kKeyText[] = "HKEY_CURRENT_USER\\Software\\TARVO";
const TStoredProps kAllGroups{pgBasic, pgFlowControl, pgBuffer, pgTimeouts, pgParity, pgOther};

struct NamedPort : TComPort {
  explicit NamedPort(TStoredProps groups = {pgBasic}) {
    SetName("ComPort");
    SetPersistedGroups(groups);
  }
};

void WriteStore(const HermeticEnv& env, const std::string& values) {
  std::filesystem::create_directories(env.ConfigDir() + "/tarvo");
  std::ofstream(env.ConfigDir() + "/tarvo/HKEY_CURRENT_USER.reg") << "[Software\\TARVO\\ComPort]\n"
                                                                  << values;
}

int LoadError(TComPort& port, bool fromIniFile, const std::string& location) {
  try {
    port.LoadPortSettings(fromIniFile, location);
  } catch (const EComPort& e) {
    EXPECT_STREQ(e.what(), "Failed to load settings");
    return e.ErrorCode();
  }
  return 0;
}

// Every persisted value of a port as the ini target writes it (whose exact
// text the store tests fix), for comparing two ports.
std::string StoredText(TComPort& port, const HermeticEnv& env) {
  const std::string file = env.ConfigDir() + "/compare.ini";
  std::filesystem::remove(file);
  port.SavePortSettings(true, file);
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void SetEverySetting(TComPort& p) {
  p.SetPort("COM7");
  p.SetBaudRate(brCustom);
  p.SetCustomBaudRate(-5);
  p.SetDataBits(dbSeven);
  p.SetStopBits(sbTwoStopBits);
  p.Parity().SetBits(prMark);
  p.Parity().SetCheck(true);
  p.Parity().SetReplace(true);
  p.Parity().SetReplaceChar(0x00);
  p.SetEventChar(0xFF);
  p.SetDiscardNull(true);
  p.Buffer().SetInputSize(2048);
  p.Buffer().SetOutputSize(512);
  p.Timeouts().SetReadInterval(7);
  p.Timeouts().SetReadTotalConstant(8);
  p.Timeouts().SetReadTotalMultiplier(9);
  p.Timeouts().SetWriteTotalConstant(10);
  p.Timeouts().SetWriteTotalMultiplier(11);
  p.FlowControl().SetControlRTS(rtsToggle);
  p.FlowControl().SetControlDTR(dtrEnable);
  p.FlowControl().SetDSRSensitivity(true);
  p.FlowControl().SetOutDSRFlow(true);
  p.FlowControl().SetTxContinueOnXoff(true);
  p.FlowControl().SetXonXoffIn(true);
  p.FlowControl().SetXonChar('#');
  p.FlowControl().SetXoffChar(' ');
}

TEST(LoadPortSettings, ReadsBackEverySettingFromBothTargets) {
  HermeticEnv env;
  NamedPort stored(kAllGroups);
  SetEverySetting(stored);
  stored.SavePortSettings(false, kKeyText);
  stored.SavePortSettings(true, env.ConfigDir() + "/port.ini");

  NamedPort fromRegistry(kAllGroups);
  fromRegistry.LoadPortSettings(false, kKeyText);
  EXPECT_EQ(StoredText(fromRegistry, env), StoredText(stored, env));
  NamedPort fromIni(kAllGroups);
  fromIni.LoadPortSettings(true, env.ConfigDir() + "/port.ini");
  EXPECT_EQ(StoredText(fromIni, env), StoredText(stored, env));
}

TEST(LoadPortSettings, TextsMatchingNoEntryFallBackAndMissingValuesKeepTheSetting) {
  HermeticEnv env;
  WriteStore(env,
             "\"BaudRate\"=\"fast\"\n\"DataBits\"=\"\"\n\"Parity\"=\"even\"\n"
             "\"FlowControl\"=\"bogus\"\n");
  NamedPort port;
  port.SetPort("COM5");
  port.SetStopBits(sbTwoStopBits);
  port.SetDataBits(dbFive);
  port.FlowControl().SetXonXoffOut(true);  // a custom pattern the fallback must not touch
  port.LoadPortSettings(false, kKeyText);

  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_EQ(port.Parity().Bits(), prEven);
  EXPECT_TRUE(port.FlowControl().XonXoffOut());
  EXPECT_EQ(port.FlowControl().FlowControl(), fcCustom);
  EXPECT_EQ(port.Port(), "COM5");
  EXPECT_EQ(port.StopBits(), sbTwoStopBits);
}

TEST(LoadPortSettings, AMalformedValueFailsWith17AndChangesNothing) {
  const char* cases[] = {
      "\"DiscardNull\"=\"Maybe\"\n",
      "\"EventChar\"=\"#256\"\n",
      "\"EventChar\"=\"AB\"\n",
      "\"Buffer.InputSize\"=\"lots\"\n",
      "\"Timeouts.ReadInterval\"=\"99999999999\"\n",
      "\"FlowControl.OutCTSFlow\"=dword:00000001\n",
  };
  for (const char* values : cases) {
    HermeticEnv env;
    WriteStore(env, std::string("\"Port\"=\"COM9\"\n\"BaudRate\"=\"300\"\n") + values);
    NamedPort port(kAllGroups);
    const std::string before = StoredText(port, env);
    EXPECT_EQ(LoadError(port, false, kKeyText), kErrLoad) << values;
    EXPECT_EQ(StoredText(port, env), before) << values;
  }
}

TEST(LoadPortSettings, NothingStoredFailsWith17) {
  HermeticEnv env;
  NamedPort port;
  EXPECT_EQ(LoadError(port, false, kKeyText), kErrLoad) << "no store file";
  WriteStore(env, "\"Port\"=\"COM2\"\n");
  EXPECT_EQ(LoadError(port, false, "HKEY_CURRENT_USER\\Software\\Other"), kErrLoad) << "no key";
  EXPECT_EQ(LoadError(port, true, env.ConfigDir() + "/none.ini"), kErrLoad) << "no ini file";
  EXPECT_EQ(port.Port(), "COM1");
}

}  // namespace

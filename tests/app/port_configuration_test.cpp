// The port configuration command end to end: the real setup dialog, the store
// under HKEY_LOCAL_MACHINE\Software\TARVO and the reopened port, against a
// simulated sign published as COM3; and each way the command ends early.
#include "app/port_configuration.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "protocol/sign_link.h"
#include "sim/sign_simulator.h"
#include "tests/serial/setup_dialog/setup_dialog_driver.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/wait_for.h"

namespace {

using tarvo::test::HermeticEnv;
using tarvo::test::Pick;
using tarvo::test::Press;
using tarvo::test::SetupDialogDriver;
using tarvo::test::WaitFor;

constexpr const char kStoredCom3[] =
    "[Software\\TARVO\\ComPort]\n\"Port\"=\"COM3\"\n\"BaudRate\"=\"19200\"\n\"StopBits\"=\"1\"\n"
    "\"DataBits\"=\"8\"\n\"Parity\"=\"None\"\n\"FlowControl\"=\"None\"\n";

std::string StoredText(const HermeticEnv& env) {
  std::ifstream in(env.ConfigDir() + "/tarvo/HKEY_LOCAL_MACHINE.reg");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The window's port: named ComPort, 19200 baud, NUL bytes discarded.
struct WindowPort : TComPort {
  int opened = 0;
  int closed = 0;
  WindowPort() {
    SetName("ComPort");
    SetBaudRate(br19200);
    SetDiscardNull(true);
    OnAfterOpen = [this](TCustomComPort&) { ++opened; };
    OnAfterClose = [this](TCustomComPort&) { ++closed; };
  }
  // The base destructor closes the port, after the counters are gone.
  ~WindowPort() override {
    OnAfterOpen = nullptr;
    OnAfterClose = nullptr;
  }
};

int CommandError(WindowPort& port, const SetupDialogStep& dialog) {
  try {
    ConfigurePort(port, dialog);
  } catch (const EComPort& e) {
    return e.ErrorCode();
  }
  return 0;
}

const SetupDialogStep kOperatorConfirms = [](TComPort&) {};

TEST(PortConfiguration, ChoosingCom3At9600StoresAndOpensCom3At19200AndTheSignAnswers) {
  HermeticEnv env;
  sign_sim::SignSimulator sim(env.ComDir());
  sim.AddSign("COM3");
  sim.Start();
  WindowPort port;
  SetupDialogDriver operatorAtDialog([&port](TComSetupFrm& dialog) {
    EXPECT_FALSE(port.Connected()) << "the port is closed while the dialog shows";
    const auto combos = dialog.Combos();
    Pick(combos[0], "COM3");
    Pick(combos[1], "9600");
    Pick(combos[2], "8");
    Pick(combos[3], "1");
    Pick(combos[4], "None");
    Pick(combos[5], "None");
    Press(dialog, "Button1");
  });
  ConfigurePort(port);

  ASSERT_EQ(operatorAtDialog.TimesShown(), 1);
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(port.Port(), "COM3");
  EXPECT_EQ(port.BaudRate(), br19200);
  EXPECT_EQ(StoredText(env), kStoredCom3);

  port.PurgeBuffers(true, true);
  port.SendText(sign_link::ReadRequest(0));
  ASSERT_TRUE(WaitFor([&] { return port.InputQueueCount() >= 14; })) << "the sign did not answer";
  std::string reply;
  port.ReadBytes(reply, 14);
  EXPECT_TRUE(sign_link::ReplyCheckCodeMatches(reply)) << reply;
}

TEST(PortConfiguration, CancelStillClosesStoresAndReopensThePort) {
  HermeticEnv env;
  sign_sim::SignSimulator sim(env.ComDir());
  sim.AddSign("COM3");
  WindowPort port;
  port.SetPort("COM3");
  port.OpenPort();
  SetupDialogDriver operatorAtDialog([](TComSetupFrm& dialog) {
    Pick(dialog.Combos()[1], "300");
    Press(dialog, "Button2");
  });
  ConfigurePort(port);

  ASSERT_EQ(operatorAtDialog.TimesShown(), 1);
  EXPECT_EQ(port.closed, 1);
  EXPECT_EQ(port.opened, 2);
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(port.BaudRate(), br19200);
  EXPECT_EQ(StoredText(env), kStoredCom3);
}

TEST(PortConfiguration, AStoreFailureEndsTheCommandWithThePortClosed) {
  HermeticEnv env;
  sign_sim::SignSimulator sim(env.ComDir());
  sim.AddSign("COM3");
  std::ofstream(env.ConfigDir() + "/tarvo");  // a file where the settings folder belongs
  WindowPort port;
  port.SetPort("COM3");
  port.OpenPort();

  EXPECT_EQ(CommandError(port, kOperatorConfirms), kErrStore);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.opened, 1) << "the port was reopened after a failed store";
}

TEST(PortConfiguration, APortThatCannotOpenIsReportedAfterTheSettingsWereStored) {
  HermeticEnv env;
  sign_sim::SignSimulator sim(env.ComDir());
  sim.AddSign("COM3");
  TComPort otherProgram;
  otherProgram.SetPort("COM3");
  otherProgram.OpenPort();
  WindowPort port;
  port.SetPort("COM3");

  EXPECT_EQ(CommandError(port, kOperatorConfirms), kErrOpen);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(StoredText(env), kStoredCom3);
}

TEST(PortConfiguration, AnUnreadablePortListEndsTheCommandBeforeTheDialogAndTheStore) {
  HermeticEnv env;
  std::filesystem::remove_all(env.ComDir());
  WindowPort port;
  SetupDialogDriver operatorAtDialog([](TComSetupFrm& dialog) { Press(dialog, "Button1"); });

  EXPECT_EQ(CommandError(port, RunSetupDialog), kErrRegistry);
  EXPECT_EQ(operatorAtDialog.TimesShown(), 0);
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(std::filesystem::exists(env.ConfigDir() + "/tarvo/HKEY_LOCAL_MACHINE.reg"));
}

}  // namespace

// "Настроить COM - порт." through the window: the real setup dialog answered
// by the test, the port reopened on the chosen sign at 19200 baud, the
// settings stored, no message, and the status line left as the search set it.
#include <gtest/gtest.h>

#include <QStatusBar>
#include <fstream>
#include <sstream>

#include "tests/app/sign_window_fixture.h"
#include "tests/serial/setup_dialog/setup_dialog_driver.h"

namespace {

using tarvo::test::Control;
using tarvo::test::LabelShows;
using tarvo::test::Pick;
using tarvo::test::Press;
using tarvo::test::SetupDialogDriver;
using tarvo::test::SignWindowTest;
using Texts = std::vector<std::string>;

std::string StoredSettings(const tarvo::test::HermeticEnv& env) {
  std::ifstream in(env.ConfigDir() + "/tarvo/HKEY_LOCAL_MACHINE.reg");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(SignWindowTest, PortCommandMovesToTheChosenSignSilentlyAndKeepsTheStatusLine) {
  sign_sim::SimSign& other = simulator_.AddSign("COM5");
  other.SetPanel(0, {"4321", '1', '0'});
  SetupDialogDriver operatorAtDialog([this](TComSetupFrm& dialog) {
    EXPECT_FALSE(form_->Port().Connected()) << "the port is closed while the dialog shows";
    Pick(dialog.Combos()[0], "COM5");
    Pick(dialog.Combos()[1], "9600");
    Press(dialog, "Button1");
  });

  Click("Button2");

  ASSERT_EQ(operatorAtDialog.TimesShown(), 1);
  EXPECT_EQ(boxes_.Texts(), Texts{}) << "success is not announced";
  EXPECT_EQ(Control<QStatusBar>(*form_, "StatusBar1").currentMessage().toStdString(),
            "Работаем на COM3");
  EXPECT_TRUE(form_->Port().Connected());
  EXPECT_EQ(form_->Port().Port(), "COM5");
  EXPECT_EQ(form_->Port().BaudRate(), br19200);
  const std::string stored = StoredSettings(env_);
  EXPECT_NE(stored.find("\"Port\"=\"COM5\"\n\"BaudRate\"=\"19200\"\n"), std::string::npos)
      << stored;

  // The next read talks to the sign on COM5.
  Click("Button7");
  EXPECT_EQ(LabelShows(*form_, "Label9"), "43.21 #00ff00");
  EXPECT_EQ(sign_.ReceivedCount(), 0u);
}

TEST_F(SignWindowTest, PortCommandOnAPortHeldElsewhereReportsTheOpenErrorAndLeavesItClosed) {
  simulator_.AddSign("COM5");
  TComPort otherProgram;
  otherProgram.SetPort("COM5");
  otherProgram.OpenPort();
  SetupDialogDriver operatorAtDialog([](TComSetupFrm& dialog) {
    Pick(dialog.Combos()[0], "COM5");
    Press(dialog, "Button1");
  });

  Click("Button2");

  ASSERT_EQ(boxes_.Shown().size(), 1u);
  // The platform's error number depends on which exclusion caught the open.
  EXPECT_EQ(boxes_.Texts()[0].rfind("Unable to open com port (win error code: ", 0), 0u)
      << boxes_.Texts()[0];
  EXPECT_EQ(boxes_.Shown()[0].icon, QMessageBox::Critical);
  EXPECT_FALSE(form_->Port().Connected());
  EXPECT_NE(StoredSettings(env_).find("\"Port\"=\"COM5\""), std::string::npos)
      << "the settings are stored before the open fails";
  EXPECT_EQ(Control<QStatusBar>(*form_, "StatusBar1").currentMessage().toStdString(),
            "Работаем на COM3");
}

}  // namespace

// The port setup dialog: its form, and what OK, Cancel and each list do to
// the bound port, with the real modal dialog.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>

#include "serial/CPortSetup.h"
#include "tests/serial/setup_dialog/setup_dialog_driver.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/pty_pair.h"

namespace {

using tarvo::test::EnsureApplication;
using tarvo::test::HermeticEnv;
using tarvo::test::Pick;
using tarvo::test::Press;
using tarvo::test::PtyPair;
using tarvo::test::SetupDialogDriver;

std::vector<std::string> Items(const QComboBox* combo) {
  std::vector<std::string> items;
  for (int i = 0; i < combo->count(); ++i) items.push_back(combo->itemText(i).toStdString());
  return items;
}

// A port folder with COM1, COM2 and COM10 on one pseudo-terminal.
struct PortFolder {
  HermeticEnv env;
  PtyPair line;
  PortFolder() {
    for (const char* name : {"COM1", "COM2", "COM10"}) env.Publish(name, line.TerminalPath());
  }
};

TEST(SetupDialog, FormHasItsCaptionsListsButtonsAndTabOrder) {
  PortFolder ports;
  EnsureApplication();
  TComSetupFrm dialog;
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Setup");
  EXPECT_EQ(dialog.findChild<QGroupBox*>("GroupBox1")->title().toStdString(), " Settings ");
  std::vector<std::string> labels;
  for (int i = 1; i <= 6; ++i) {
    labels.push_back(dialog.findChild<QLabel*>(QString("Label%1").arg(i))->text().toStdString());
  }
  EXPECT_EQ(labels, (std::vector<std::string>{"Port", "Baud rate", "Data bits", "Stop bits",
                                              "Parity", "Flow control"}));
  const auto combos = dialog.Combos();
  EXPECT_EQ(Items(combos[0]), (std::vector<std::string>{"COM1", "COM10", "COM2"}));
  EXPECT_EQ(Items(combos[1]).front(), "Custom");
  EXPECT_EQ(Items(combos[1]).size(), 16u);
  EXPECT_EQ(Items(combos[2]), (std::vector<std::string>{"5", "6", "7", "8"}));
  EXPECT_EQ(Items(combos[3]), (std::vector<std::string>{"1", "1.5", "2"}));
  EXPECT_EQ(Items(combos[4]), (std::vector<std::string>{"None", "Odd", "Even", "Mark", "Space"}));
  EXPECT_EQ(Items(combos[5]), (std::vector<std::string>{"Hardware", "Software", "None", "Custom"}));
  for (TComComboBox* combo : combos) {
    EXPECT_FALSE(combo->isEditable()) << combo->objectName().toStdString();
    EXPECT_EQ(combo->currentIndex(), 0) << combo->objectName().toStdString();
  }
  auto* ok = dialog.findChild<QPushButton*>("Button1");
  auto* cancel = dialog.findChild<QPushButton*>("Button2");
  EXPECT_EQ(ok->text().toStdString(), "OK");
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(cancel->text().toStdString(), "Cancel");

  std::vector<std::string> tabOrder;
  QWidget* widget = combos[0];
  do {
    if (widget->focusPolicy() & Qt::TabFocus)
      tabOrder.push_back(widget->objectName().toStdString());
    widget = widget->nextInFocusChain();
  } while (widget != combos[0]);
  EXPECT_EQ(tabOrder, (std::vector<std::string>{"Combo1", "Combo2", "Combo3", "Combo4", "Combo5",
                                                "Combo6", "Button1", "Button2"}));
}

TEST(SetupDialog, OkWritesTheChosenValuesIntoThePort) {
  PortFolder ports;
  TComPort port;
  SetupDialogDriver operatorAtDialog([&port](TComSetupFrm& dialog) {
    const auto combos = dialog.Combos();
    EXPECT_EQ(combos[0]->currentText().toStdString(), "COM1") << "shows the port's current value";
    EXPECT_EQ(combos[1]->currentText().toStdString(), "9600");
    Pick(combos[0], "COM10");
    Pick(combos[1], "115200");
    Pick(combos[2], "7");
    Pick(combos[3], "1.5");
    Pick(combos[4], "Even");
    Pick(combos[5], "Hardware");
    EXPECT_EQ(port.BaudRate(), br9600) << "a pick reached the port before OK";
    Press(dialog, "Button1");
  });
  RunSetupDialog(port);
  ASSERT_EQ(operatorAtDialog.TimesShown(), 1);
  EXPECT_EQ(port.Port(), "COM10");
  EXPECT_EQ(port.BaudRate(), br115200);
  EXPECT_EQ(port.DataBits(), dbSeven);
  EXPECT_EQ(port.StopBits(), sbOne5StopBits);
  EXPECT_EQ(port.Parity().Bits(), prEven);
  EXPECT_EQ(port.FlowControl().ControlRTS(), rtsHandshake);
  EXPECT_TRUE(port.FlowControl().OutCTSFlow());
}

TEST(SetupDialog, CancelOrClosingLeavesThePortExactlyAsItWas) {
  PortFolder ports;
  const std::function<void(TComSetupFrm&)> closers[] = {
      [](TComSetupFrm& dialog) { Press(dialog, "Button2"); },
      [](TComSetupFrm& dialog) { dialog.close(); },
  };
  for (const auto& closeDialog : closers) {
    TComPort port;
    port.SetPort("COM2");
    SetupDialogDriver operatorAtDialog([&](TComSetupFrm& dialog) {
      const auto combos = dialog.Combos();
      Pick(combos[0], "COM1");
      Pick(combos[1], "300");
      Pick(combos[5], "Software");
      closeDialog(dialog);
    });
    RunSetupDialog(port);
    ASSERT_EQ(operatorAtDialog.TimesShown(), 1);
    EXPECT_EQ(port.Port(), "COM2");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
    EXPECT_FALSE(port.FlowControl().XonXoffIn());
  }
}

TEST(SetupDialog, CustomFlowControlIsShownAndOkLeavesTheFlowFieldsAlone) {
  PortFolder ports;
  TComPort port;
  port.FlowControl().SetXonXoffIn(true);
  port.FlowControl().SetControlRTS(rtsToggle);
  SetupDialogDriver operatorAtDialog([](TComSetupFrm& dialog) {
    EXPECT_EQ(dialog.Combos()[5]->currentText().toStdString(), "Custom");
    Press(dialog, "Button1");
  });
  RunSetupDialog(port);
  ASSERT_EQ(operatorAtDialog.TimesShown(), 1);
  EXPECT_TRUE(port.FlowControl().XonXoffIn());
  EXPECT_EQ(port.FlowControl().ControlRTS(), rtsToggle);
  EXPECT_FALSE(port.FlowControl().OutCTSFlow());
}

TEST(SetupDialog, PortNotListedShowsNoSelectionAndOkSetsAnEmptyPortThatCannotOpen) {
  PortFolder ports;
  TComPort port;
  port.SetPort("COM7");
  SetupDialogDriver operatorAtDialog([](TComSetupFrm& dialog) {
    EXPECT_EQ(dialog.Combos()[0]->currentIndex(), -1);
    Press(dialog, "Button1");
  });
  RunSetupDialog(port);
  ASSERT_EQ(operatorAtDialog.TimesShown(), 1);
  EXPECT_EQ(port.Port(), "");
  try {
    port.OpenPort();
    FAIL() << "an empty port name opened";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), kErrOpen);
  }
}

TEST(ComComboBox, ForgetsADestroyedPortAndSelectsItsFirstItem) {
  EnsureApplication();
  TComComboBox combo;
  combo.SetComProperty(cpParity);
  auto port = std::make_unique<TComPort>();
  port->Parity().SetBits(prSpace);
  combo.SetComPort(port.get());
  combo.ShowCurrentValue();
  EXPECT_EQ(combo.currentText().toStdString(), "Space");
  port.reset();
  EXPECT_EQ(combo.ComPort(), nullptr);
  EXPECT_EQ(combo.currentIndex(), 0);
  combo.ApplyPendingValue();  // unbound: nothing happens
}

TEST(ComComboBox, AutoApplyWritesAPickAtOnceAndShowCurrentValueIgnoresCase) {
  HermeticEnv env;
  env.Publish("COM3", "/dev/null");
  EnsureApplication();
  TComPort port;
  port.SetPort("com3");
  TComComboBox portList;
  portList.SetComProperty(cpPort);
  portList.SetComPort(&port);
  portList.ShowCurrentValue();
  EXPECT_EQ(portList.currentText().toStdString(), "COM3");

  TComComboBox baudList;
  baudList.SetComProperty(cpBaudRate);
  baudList.SetComPort(&port);
  Pick(&baudList, "57600");
  EXPECT_EQ(port.BaudRate(), br9600) << "without AutoApply a pick waits for ApplyPendingValue";
  baudList.SetAutoApply(true);
  Pick(&baudList, "1200");
  EXPECT_EQ(port.BaudRate(), br1200);
}

}  // namespace

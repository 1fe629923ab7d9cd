// The window from start-up to exit: the start-up search against simulated
// signs, the state of the controls, the error report and the busy buttons.
#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <memory>

#include "app/mask_edit.h"
#include "sim/sign_simulator.h"
#include "tests/app/window_test_support.h"
#include "tests/support/hermetic_env.h"

namespace {

using tarvo::test::HermeticEnv;
using tarvo::test::MessageBoxAnswerer;
using Texts = std::vector<std::string>;

const std::string kNotFound = "Табло не найдено. Проверьте кабель подключения табло";
const std::string kFoundCom3 = "Стела подключена на порт : COM3";

template <typename W>
W& Control(TForm1& form, const char* name) {
  W* widget = form.findChild<W*>(name);
  if (widget == nullptr) throw std::runtime_error(std::string("no control ") + name);
  return *widget;
}

std::string StatusText(TForm1& form) {
  return Control<QStatusBar>(form, "StatusBar1").currentMessage().toStdString();
}

std::string LabelText(TForm1& form, const char* name) {
  return Control<QLabel>(form, name).text().toStdString();
}

const char* const kOperatorButtons[] = {"Button5",  "Button7", "Button8", "Button6",
                                        "Button36", "Button2", "Button1"};

// A hermetic port folder, the simulator serving it, and the message boxes answered.
class WindowTest : public ::testing::Test {
 protected:
  WindowTest() : simulator_(env_.ComDir()) {}

  sign_sim::SimSign& AddSign(const std::string& name) { return simulator_.AddSign(name); }

  std::unique_ptr<TForm1> Start() {
    simulator_.Start();
    return std::make_unique<TForm1>();
  }

  HermeticEnv env_;
  sign_sim::SignSimulator simulator_;
  MessageBoxAnswerer boxes_;
};

TEST_F(WindowTest, StartupWithoutPortsSaysSoAndLeavesThePortClosed) {
  auto form = Start();
  ASSERT_EQ(boxes_.Texts(), Texts{kNotFound});
  EXPECT_EQ(boxes_.Shown()[0].caption, "TARVO - управление стелой Z408");
  EXPECT_FALSE(form->isVisible()) << "the window is shown only after FormCreate";
  EXPECT_FALSE(form->Port().Connected());
  EXPECT_EQ(StatusText(*form), "");
}

TEST_F(WindowTest, ControlsStartAsTheWindowDefinesThem) {
  auto form = Start();
  EXPECT_EQ(form->windowTitle().toStdString(), "  TARVO Ж200-3-НК-ЧЧ Z408 www.tarvo.ru");
  EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "the operator cannot resize the window";
  EXPECT_TRUE(form->LogLines().isEmpty()) << form->LogLines().join(" | ").toStdString();
  EXPECT_EQ(LabelText(*form, "Label5"), "50");
  EXPECT_EQ(LabelText(*form, "Label7"), "200");
  EXPECT_EQ(Control<QProgressBar>(*form, "ProgressBar1").value(), 0);
  for (const char* name : {"Label10", "Label14", "Label13", "Label12", "Label9", "Label11",
                           "Label8", "Label4", "Label3", "Label2"}) {
    const QLabel& label = Control<QLabel>(*form, name);
    EXPECT_EQ(label.text().toStdString(), "---") << name;
    EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(Qt::red)) << name;
    EXPECT_EQ(label.palette().color(QPalette::Window), QColor(Qt::black)) << name;
  }
  for (const char* name : {"ComboBox1", "ComboBox2", "ComboBox3", "ComboBox4", "ComboBox5"}) {
    const QComboBox& grades = Control<QComboBox>(*form, name);
    EXPECT_EQ(grades.currentIndex(), 0) << name;
    EXPECT_EQ(grades.currentText().toStdString(), "80") << name;
    EXPECT_EQ(grades.count(), 5) << name;
    EXPECT_EQ(grades.itemText(4).toStdString(), "ДТ") << name;
  }
  for (const char* name : {"MaskEdit1", "MaskEdit3", "MaskEdit4", "MaskEdit5", "MaskEdit6"}) {
    EXPECT_EQ(Control<TMaskEdit>(*form, name).Text(), "  .  ") << name;
  }
  EXPECT_EQ(Control<TMaskEdit>(*form, "MaskEdit7").Text(), " ");
  for (int i = 1; i <= 15; ++i) {
    const std::string name = "CheckBox" + std::to_string(i);
    EXPECT_FALSE(Control<QCheckBox>(*form, name.c_str()).isChecked()) << name;
  }
  for (const char* name : {"Memo1", "RxSlider1", "RxSlider2", "Panel1", "Button29"}) {
    EXPECT_TRUE(Control<QWidget>(*form, name).isHidden()) << name;
  }
  EXPECT_FALSE(Control<QPushButton>(*form, "Button29").isEnabled());
  for (const char* name : kOperatorButtons) {
    EXPECT_TRUE(Control<QPushButton>(*form, name).isEnabled()) << name;
  }
}

TEST_F(WindowTest, SignSendingNulBytesBetweenItsAnswerBytesIsStillFound) {
  // The window's port drops received NUL bytes, so the answer still begins "T0".
  AddSign("COM4").UpdateFaults([](sign_sim::SignFaults& f) { f.nulsBetweenBytes = 2; });
  auto form = Start();
  EXPECT_EQ(boxes_.Texts(), Texts{"Стела подключена на порт : COM4"});
}

TEST_F(WindowTest, SignOnCom3IsFoundAtStartupAndKeptOpen) {
  sign_sim::SimSign& sign = AddSign("COM3");
  auto form = Start();
  EXPECT_EQ(boxes_.Texts(), Texts{kFoundCom3});
  EXPECT_EQ(StatusText(*form), "Работаем на COM3");
  EXPECT_TRUE(form->Port().Connected());
  EXPECT_EQ(form->Port().Port(), "COM3");
  EXPECT_EQ(form->Port().BaudRate(), br19200);
  EXPECT_EQ(sign.Received(), Texts{"R0E"});
  EXPECT_TRUE(form->LogLines().isEmpty()) << "start-up clears the search's lines";

  // A second search while the port is open finds the same sign again.
  boxes_.Clear();
  Control<QPushButton>(*form, "Button36").click();
  EXPECT_EQ(boxes_.Texts(), Texts{kFoundCom3});
  EXPECT_TRUE(form->Port().Connected());
  EXPECT_EQ(form->Port().Port(), "COM3");
}

TEST_F(WindowTest, OfTwoAnsweringSignsTheHigherPortIsKept) {
  AddSign("COM2");
  AddSign("COM7");
  auto form = Start();
  EXPECT_EQ(boxes_.Texts(), Texts{"Стела подключена на порт : COM7"});
  EXPECT_EQ(form->Port().Port(), "COM7");
  EXPECT_TRUE(form->Port().Connected());
}

TEST_F(WindowTest, SearchFindingNothingAfterASuccessKeepsTheStatusAndClosesThePort) {
  sign_sim::SimSign& sign = AddSign("COM3");
  auto form = Start();
  ASSERT_EQ(StatusText(*form), "Работаем на COM3");
  Control<QSlider>(*form, "RxSlider1").setValue(2);
  sign.UpdateFaults([](sign_sim::SignFaults& f) { f.silent = true; });

  boxes_.Clear();
  Control<QPushButton>(*form, "Button36").click();
  EXPECT_EQ(boxes_.Texts(), Texts{kNotFound});
  EXPECT_EQ(StatusText(*form), "Работаем на COM3");
  EXPECT_FALSE(form->Port().Connected());
  EXPECT_EQ(form->LogLines().join(" | ").toStdString(),
            "--- Поиск табло ---  | Отправлено:R0E | Принято символов:0 | Принято символов:0 | "
            "Принято символов:0 | Принято символов:0 | 4 попыток чтения прошло. Задержка 200мс | "
            "Ошибка чтения!!!  | Принял:===========");
}

TEST_F(WindowTest, ExitClosesTheWindowAndItsDestructionFreesThePort) {
  AddSign("COM3");
  auto form = Start();
  form->show();
  ASSERT_TRUE(form->Port().Connected());

  Control<QPushButton>(*form, "Button1").click();
  EXPECT_FALSE(form->isVisible());
  form.reset();

  TComPort other;
  other.SetPort("COM3");
  EXPECT_NO_THROW(other.OpenPort()) << "the window's port should have been closed";
}

TEST_F(WindowTest, FailedCommandIsReportedAndGivesTheOperatorButtonsBack) {
  auto form = Start();
  boxes_.Clear();
  for (const EComPort& error : {EComPort(kErrStore), EComPort(kErrPurge, 9)}) {
    form->RunCommand([&] {
      form->SetOperatorButtonsEnabled(false);
      throw error;
    });
  }
  ASSERT_EQ(boxes_.Texts(), (Texts{"Failed to store settings.",
                                   "PurgeComm function failed (win error code: 9)"}));
  EXPECT_EQ(boxes_.Shown()[0].icon, QMessageBox::Critical);
  EXPECT_EQ(boxes_.Shown()[0].caption, "TARVO - управление стелой Z408");
  for (const char* name : kOperatorButtons) {
    EXPECT_TRUE(Control<QPushButton>(*form, name).isEnabled()) << name;
  }
}

TEST(ErrorReportText, AppendsAPointOnlyAfterACharacterThatSortsAfterIt) {
  EXPECT_EQ(ErrorReportText("Failed to store settings").toStdString(), "Failed to store settings.");
  EXPECT_EQ(ErrorReportText("Порт занят").toStdString(), "Порт занят.");
  EXPECT_EQ(ErrorReportText("Done.").toStdString(), "Done.");
  EXPECT_EQ(ErrorReportText("(win error code: 5)").toStdString(), "(win error code: 5)");
  EXPECT_EQ(ErrorReportText("Stop!").toStdString(), "Stop!");
  EXPECT_EQ(ErrorReportText("").toStdString(), "");
}

TEST_F(WindowTest, BusyButtonsAreTheSevenOperatorButtonsOnly) {
  auto form = Start();
  form->SetOperatorButtonsEnabled(false);
  for (const char* name : kOperatorButtons) {
    EXPECT_FALSE(Control<QPushButton>(*form, name).isEnabled()) << name;
  }
  EXPECT_TRUE(Control<TMaskEdit>(*form, "MaskEdit1").isEnabled());
  EXPECT_TRUE(Control<QComboBox>(*form, "ComboBox1").isEnabled());
  EXPECT_TRUE(Control<TMaskEdit>(*form, "MaskEdit7").isEnabled());
}

TEST_F(WindowTest, DelaysComeFromTheSlidersAtEachUseAndShowInTheLabels) {
  auto form = Start();
  Control<QSlider>(*form, "RxSlider1").setValue(7);
  Control<QSlider>(*form, "RxSlider2").setValue(300);
  EXPECT_EQ(form->ReadDelay(), 7);
  EXPECT_EQ(form->Exchange().readDelayMs(), 7);
  EXPECT_EQ(LabelText(*form, "Label5"), "7");
  EXPECT_EQ(LabelText(*form, "Label7"), "300");
}

TEST_F(WindowTest, ExchangeLogKeepsItsLastTenThousandLines) {
  auto form = Start();
  for (int i = 0; i < 10'003; ++i) form->AddLogLine("line " + std::to_string(i));
  const QStringList lines = form->LogLines();
  ASSERT_EQ(lines.size(), 10'000);
  EXPECT_EQ(lines.front().toStdString(), "line 3");
  EXPECT_EQ(lines.back().toStdString(), "line 10002");
}

}  // namespace

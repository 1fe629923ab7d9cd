// The sign's cable pulled in the middle of a search, a read and a write: the
// error report names the port operation that met the vanished device, the
// window comes back usable, and a search finds the sign again once it is
// plugged back in.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <string>

#include "tests/app/sign_window_fixture.h"

namespace {

using tarvo::test::ButtonsNot;
using tarvo::test::Control;
using tarvo::test::SignWindowTest;

struct UnplugCase {
  const char* name;
  const char* button;
  // The start of the exchange-log line after which the cable is pulled.
  const char* pullAfterLogLine;
  // The error report: the operation the program makes next on the port.
  const char* report;
};

const UnplugCase kCases[] = {
    {"Search", "Button36", "Отправлено:R0E", "ClearCommError function failed (win error code: 5)"},
    {"Read", "Button7", "--- Читаю панель3 ---", "WriteFile function failed (win error code: 5)"},
    {"Write", "Button8", "Запишу 3 панель:", "WriteFile function failed (win error code: 5)"},
};

class UnplugTest : public SignWindowTest, public ::testing::WithParamInterface<UnplugCase> {
 protected:
  // Pulls the cable from the window's own thread the moment the command
  // logs a line starting with `start`, so the command meets the vanished
  // device next.
  void PullCableAfter(const std::string& start) {
    auto& memo = Control<QPlainTextEdit>(*form_, "Memo1");
    QObject::connect(&memo, &QPlainTextEdit::textChanged, &memo, [this, &memo, start] {
      if (!pulled_ && memo.document()->lastBlock().text().toStdString().rfind(start, 0) == 0) {
        pulled_ = true;
        sign_.Unplug();
      }
    });
  }
  bool pulled_ = false;
};

TEST_P(UnplugTest, ReportsThePortErrorGivesTheButtonsBackAndASearchFindsTheSignAgain) {
  const UnplugCase& c = GetParam();
  PullCableAfter(c.pullAfterLogLine);

  Click(c.button);

  ASSERT_TRUE(pulled_) << "the command never logged " << c.pullAfterLogLine;
  ASSERT_EQ(boxes_.Texts(), std::vector<std::string>{c.report});
  EXPECT_EQ(boxes_.Shown()[0].icon, QMessageBox::Critical);
  EXPECT_EQ(ButtonsNot(*form_, true), std::vector<std::string>{}) << "buttons left disabled";
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "a modal window is still open";

  // A search while the sign is away finds nothing and says so.
  boxes_.Clear();
  Click("Button36");
  EXPECT_EQ(boxes_.Texts(),
            std::vector<std::string>{"Табло не найдено. Проверьте кабель подключения табло"});

  sign_.Replug();
  sign_.SetPanel(0, {"1234", '2', '1'});
  boxes_.Clear();
  Click("Button36");
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Стела подключена на порт : COM3"});
  ASSERT_TRUE(form_->Port().Connected());
  Click("Button7");
  EXPECT_EQ(Control<QLabel>(*form_, "Label9").text().toStdString(), "12.34")
      << "the read after the sign came back";
}

INSTANTIATE_TEST_SUITE_P(DuringEachLongCommand, UnplugTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<UnplugCase>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace

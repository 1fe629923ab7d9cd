#pragma once
// The window started against a simulated sign on COM3 of a private port
// folder, with the message boxes answered, and the entry rows and display
// labels described by their control names, row 1 at the top.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/mask_edit.h"
#include "sim/sign_simulator.h"
#include "tests/app/window_test_support.h"
#include "tests/support/hermetic_env.h"

namespace tarvo::test {

template <typename W>
W& Control(QWidget& form, const std::string& name) {
  W* widget = form.findChild<W*>(QString::fromStdString(name));
  if (widget == nullptr) throw std::runtime_error("no control " + name);
  return *widget;
}

inline const std::vector<std::string> kOperatorButtonNames = {
    "Button5", "Button7", "Button8", "Button6", "Button36", "Button2", "Button1"};

// The operator buttons whose enabled state differs from `enabled`.
inline std::vector<std::string> ButtonsNot(QWidget& form, bool enabled) {
  std::vector<std::string> odd;
  for (const std::string& name : kOperatorButtonNames) {
    if (Control<QPushButton>(form, name).isEnabled() != enabled) odd.push_back(name);
  }
  return odd;
}

// The controls of one entry row and the labels of its two panels.
struct RowControlNames {
  const char* notUsed;
  const char* inscription1;
  const char* inscription2;
  const char* grade;
  const char* price;
  const char* firstHalfLabel;
  const char* secondHalfLabel;
};
inline constexpr RowControlNames kRowControls[5] = {
    {"CheckBox1", "CheckBox2", "CheckBox11", "ComboBox1", "MaskEdit1", "Label10", "Label11"},
    {"CheckBox5", "CheckBox7", "CheckBox12", "ComboBox2", "MaskEdit3", "Label14", "Label8"},
    {"CheckBox4", "CheckBox8", "CheckBox13", "ComboBox3", "MaskEdit4", "Label13", "Label4"},
    {"CheckBox6", "CheckBox9", "CheckBox14", "ComboBox4", "MaskEdit5", "Label12", "Label3"},
    {"CheckBox3", "CheckBox10", "CheckBox15", "ComboBox5", "MaskEdit6", "Label9", "Label2"},
};

// A label as "text colour", e.g. "12.34 #00ff00".
inline std::string LabelShows(QWidget& form, const std::string& name) {
  const QLabel& label = Control<QLabel>(form, name);
  return label.text().toStdString() + " " +
         label.palette().color(QPalette::WindowText).name().toStdString();
}

// One entry row as one line: "Не исп.", the two inscriptions, the grade
// index, the price field as the procedures take it, then both labels.
inline std::string RowShows(QWidget& form, int row) {
  const RowControlNames& c = kRowControls[row - 1];
  const auto ticked = [&](const char* name) {
    return Control<QCheckBox>(form, name).isChecked() ? "1" : "0";
  };
  return std::string("unused=") + ticked(c.notUsed) + " ins=" + ticked(c.inscription1) +
         ticked(c.inscription2) +
         " grade=" + std::to_string(Control<QComboBox>(form, c.grade).currentIndex()) + " price=[" +
         Control<TMaskEdit>(form, c.price).Text() + "] | " + LabelShows(form, c.firstHalfLabel) +
         " | " + LabelShows(form, c.secondHalfLabel);
}

// Fills an entry row as the operator would.
inline void EnterRow(QWidget& form, int row, bool notUsed, bool inscription1, bool inscription2,
                     int grade, const std::string& price) {
  const RowControlNames& c = kRowControls[row - 1];
  Control<QCheckBox>(form, c.notUsed).setChecked(notUsed);
  Control<QCheckBox>(form, c.inscription1).setChecked(inscription1);
  Control<QCheckBox>(form, c.inscription2).setChecked(inscription2);
  Control<QComboBox>(form, c.grade).setCurrentIndex(grade);
  Control<TMaskEdit>(form, c.price).SetText(price);
}

// Records every change of the progress bar with the operator buttons'
// state at that moment.
class ProgressWatch {
 public:
  explicit ProgressWatch(QWidget& form) : form_(form) {
    QProgressBar& bar = Control<QProgressBar>(form, "ProgressBar1");
    connection_ = QObject::connect(&bar, &QProgressBar::valueChanged, &bar, [this](int value) {
      positions_.push_back(value);
      if (!ButtonsNot(form_, false).empty()) ++changesWithButtonsEnabled_;
    });
  }
  ~ProgressWatch() { QObject::disconnect(connection_); }
  const std::vector<int>& Positions() const { return positions_; }
  int ChangesWithButtonsEnabled() const { return changesWithButtonsEnabled_; }

 private:
  QWidget& form_;
  QMetaObject::Connection connection_;
  std::vector<int> positions_;
  int changesWithButtonsEnabled_ = 0;
};

class SignWindowTest : public ::testing::Test {
 protected:
  // Small, so the suite stays fast; the sign answers well within it.
  static constexpr int kReadDelayMs = 10;

  SignWindowTest() : simulator_(env_.ComDir()), sign_(simulator_.AddSign("COM3")) {}

  void SetUp() override {
    simulator_.Start();
    form_ = std::make_unique<TForm1>();
    ASSERT_TRUE(form_->Port().Connected()) << "the start-up search should find COM3";
    SetReadDelay(kReadDelayMs);
    boxes_.Clear();
    sign_.ClearReceived();
  }

  void SetReadDelay(int ms) { Control<QSlider>(*form_, "RxSlider1").setValue(ms); }
  void Click(const char* button) { Control<QPushButton>(*form_, button).click(); }
  int Progress() { return Control<QProgressBar>(*form_, "ProgressBar1").value(); }

  HermeticEnv env_;
  sign_sim::SignSimulator simulator_;
  sign_sim::SimSign& sign_;
  MessageBoxAnswerer boxes_;
  std::unique_ptr<TForm1> form_;
};

}  // namespace tarvo::test

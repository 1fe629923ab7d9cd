#pragma once
// What the window tests share: the program's application object, and an
// answerer that closes every message box from inside its modal loop and
// records what it said, so the real boxes run and no test sleeps.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <string>
#include <vector>

#include "app/feedback.h"

namespace tarvo::test {

// The application object of a test program, titled like the program's. It
// goes when the tests end, before the exit handlers: destroyed among them it
// would outlive Qt's own globals.
inline QApplication& TestApplication() {
  static QApplication* application = nullptr;
  class Ending : public ::testing::Environment {
    void TearDown() override {
      delete application;
      application = nullptr;
    }
  };
  static int argc = 1;
  static char name[] = "tarvo-test";
  static char* argv[] = {name, nullptr};
  if (application == nullptr) {
    static const bool registered = (::testing::AddGlobalTestEnvironment(new Ending), true);
    static_cast<void>(registered);
    application = new QApplication(argc, argv);
  }
  QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
  return *application;
}

struct ShownMessage {
  std::string caption;
  std::string text;
  QMessageBox::Icon icon;
};

class MessageBoxAnswerer {
 public:
  MessageBoxAnswerer() {
    TestApplication();
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { AnswerOpenBoxes(); });
    timer_.start();
  }

  const std::vector<ShownMessage>& Shown() const { return shown_; }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const ShownMessage& m : shown_) texts.push_back(m.text);
    return texts;
  }
  void Clear() { shown_.clear(); }

 private:
  void AnswerOpenBoxes() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box == nullptr || !box->isVisible()) continue;
      shown_.push_back({box->windowTitle().toStdString(), box->text().toStdString(), box->icon()});
      box->done(QMessageBox::Ok);
    }
  }

  QTimer timer_;
  std::vector<ShownMessage> shown_;
};

}  // namespace tarvo::test

#pragma once
// Plays the operator in front of the port setup dialog: waits, inside the
// dialog's own modal loop, until the dialog is shown, then acts on it. The
// real modal dialog runs; nothing sleeps.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "serial/CPortSetup.h"

namespace tarvo::test {

// The test program's application object (one per process).
inline void EnsureApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  static int argc = 1;
  static char name[] = "tarvo-test";
  static char* argv[] = {name, nullptr};
  static QApplication application(argc, argv);
}

class SetupDialogDriver {
 public:
  explicit SetupDialogDriver(std::function<void(TComSetupFrm&)> act) : act_(std::move(act)) {
    EnsureApplication();
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { ActOnShownDialog(); });
    timer_.start();
  }
  int TimesShown() const { return shown_; }

 private:
  void ActOnShownDialog() {
    auto* dialog = qobject_cast<TComSetupFrm*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible() || dialog == last_.data()) return;
    last_ = dialog;
    ++shown_;
    act_(*dialog);
  }

  std::function<void(TComSetupFrm&)> act_;
  QTimer timer_;
  QPointer<TComSetupFrm> last_;  // the dialog already acted on, while it exists
  int shown_ = 0;
};

// The operator picks the item with this text, as a click in the open list does.
inline void Pick(TComComboBox* combo, const char* text) {
  const int index = combo->findText(QString::fromUtf8(text));
  ASSERT_GE(index, 0) << "no item " << text;
  combo->setCurrentIndex(index);
  Q_EMIT combo->activated(index);
}

inline void Press(TComSetupFrm& dialog, const char* button) {
  dialog.findChild<QPushButton*>(button)->click();
}

}  // namespace tarvo::test

#pragma once
// The port's setup dialog and the entry point that runs it. (Storing the
// port's settings, TCustomComPort::SavePortSettings, is in settings_persistence.cpp.)

#include <QDialog>
#include <array>
#include <memory>

#include "serial/CPort.h"
#include "serial/CPortCtl.h"

namespace Ui {
class TComSetupFrm;
}

// "Setup": six lists (Combo1..Combo6: port, baud rate, data bits, stop bits,
// parity, flow control), OK (Button1, the default) and Cancel (Button2). The
// lists are filled when the dialog is made, so a port list that cannot be read
// raises EComPort 23 from the constructor. Captions, labels and buttons pass
// through translation; list items never do.
class TComSetupFrm : public QDialog {
  Q_OBJECT

 public:
  explicit TComSetupFrm(QWidget* parent = nullptr);
  ~TComSetupFrm() override;

  // The six lists in row order.
  std::array<TComComboBox*, 6> Combos() const;

 private:
  void TranslateTexts();
  std::unique_ptr<Ui::TComSetupFrm> ui_;
};

// Shows the dialog for the port, modally, with its current settings. On OK the
// chosen values are written into the port in one settings update; Cancel, or
// closing the dialog any other way, leaves the port exactly as it was.
void RunSetupDialog(TComPort& port);

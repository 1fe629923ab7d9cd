#include "serial/CPortSetup.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>

#include "serial/setup_dialog/translation.h"
#include "ui_ComSetupFrm.h"

TComSetupFrm::TComSetupFrm(QWidget* parent) : QDialog(parent), ui_(new Ui::TComSetupFrm) {
  ui_->setupUi(this);
  constexpr TComProperty kProperties[] = {cpPort,     cpBaudRate, cpDataBits,
                                          cpStopBits, cpParity,   cpFlowControl};
  const auto combos = Combos();
  for (size_t i = 0; i < combos.size(); ++i) combos[i]->SetComProperty(kProperties[i]);
  TranslateTexts();
}

TComSetupFrm::~TComSetupFrm() = default;

std::array<TComComboBox*, 6> TComSetupFrm::Combos() const {
  return {ui_->Combo1, ui_->Combo2, ui_->Combo3, ui_->Combo4, ui_->Combo5, ui_->Combo6};
}

// The lists show setting values, which must stay as they are; only the
// dialog's own words are translated.
void TComSetupFrm::TranslateTexts() {
  const auto translated = [](const QString& text) {
    return QString::fromStdString(Translated(text.toStdString()));
  };
  setWindowTitle(translated(windowTitle()));
  for (QGroupBox* group : findChildren<QGroupBox*>()) group->setTitle(translated(group->title()));
  for (QLabel* label : findChildren<QLabel*>()) label->setText(translated(label->text()));
  for (QAbstractButton* button : findChildren<QAbstractButton*>()) {
    button->setText(translated(button->text()));
  }
}

void RunSetupDialog(TComPort& port) {
  TComSetupFrm dialog;
  const auto combos = dialog.Combos();
  for (TComComboBox* combo : combos) combo->SetComPort(&port);
  for (TComComboBox* combo : combos) combo->ShowCurrentValue();
  if (dialog.exec() != QDialog::Accepted) return;
  port.BeginSettingsUpdate();
  try {
    for (TComComboBox* combo : combos) combo->ApplyPendingValue();
  } catch (...) {
    port.EndSettingsUpdate();
    throw;
  }
  port.EndSettingsUpdate();
}

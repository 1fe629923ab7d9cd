#include "app/feedback.h"

#include <QMessageBox>

namespace {

void ShowBox(QMessageBox::Icon icon, const QString& text) {
  // No parent: the box centres on the screen, also before the window is shown.
  QMessageBox box(icon, QString::fromUtf8(kApplicationTitle), text, QMessageBox::Ok);
  box.exec();
}

}  // namespace

void ShowMessage(const QString& text) { ShowBox(QMessageBox::NoIcon, text); }

void ShowErrorReport(const QString& errorText) {
  ShowBox(QMessageBox::Critical, ErrorReportText(errorText));
}

QString ErrorReportText(const QString& errorText) {
  if (!errorText.isEmpty() && errorText.back() > u'.') return errorText + u'.';
  return errorText;
}

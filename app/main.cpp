// tarvo: the control program of the TARVO Z408 fuel-price sign.
#include <QApplication>

#include "app/feedback.h"
#include "app/main_window.h"
#include "serial/setup_dialog/translation.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
  // Before the window: the start-up search may already report a port error.
  InitTranslation(QCoreApplication::applicationDirPath().toStdString());
  TForm1 form1;
  form1.show();
  return QApplication::exec();
}

#include "app/main_window.h"

#include <QApplication>
#include <QScreen>

#include "protocol/brightness.h"
#include "app/feedback.h"
#include "app/port_configuration.h"
#include "app/sign_search.h"
#include "protocol/write_sign.h"
#include "ui_main_window.h"

namespace {

// The line to the sign: 19200 baud, 8 data bits, no parity, one stop bit, no
// flow control, DTR and RTS held off, received NUL bytes dropped.
void ApplyWindowPortSettings(TComPort& port) {
  port.SetName("ComPort");
  port.SetPort("COM1");
  port.SetBaudRate(br19200);
  port.SetDataBits(dbEight);
  port.Parity().SetBits(prNone);
  port.SetStopBits(sbOneStopBit);
  TComFlowControl& flow = port.FlowControl();
  flow.SetOutCTSFlow(false);
  flow.SetOutDSRFlow(false);
  flow.SetControlDTR(dtrDisable);
  flow.SetControlRTS(rtsDisable);
  flow.SetXonXoffOut(false);
  flow.SetXonXoffIn(false);
  port.SetDiscardNull(true);
  port.SetEvents(kAllComEvents);
}

void CentreOnScreen(QWidget& window) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = window.frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window.move(frame.topLeft());
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TForm1>()) {
  ui->setupUi(this);
  // Entry row r feeds the panels 5 - r and 13 - r, shown in these labels.
  rows_ = {
      {ui->CheckBox1, ui->CheckBox2, ui->CheckBox11, ui->ComboBox1, ui->MaskEdit1, ui->Label10,
       ui->Label11},
      {ui->CheckBox5, ui->CheckBox7, ui->CheckBox12, ui->ComboBox2, ui->MaskEdit3, ui->Label14,
       ui->Label8},
      {ui->CheckBox4, ui->CheckBox8, ui->CheckBox13, ui->ComboBox3, ui->MaskEdit4, ui->Label13,
       ui->Label4},
      {ui->CheckBox6, ui->CheckBox9, ui->CheckBox14, ui->ComboBox4, ui->MaskEdit5, ui->Label12,
       ui->Label3},
      {ui->CheckBox3, ui->CheckBox10, ui->CheckBox15, ui->ComboBox5, ui->MaskEdit6, ui->Label9,
       ui->Label2},
  };
  setFixedSize(size());
  CentreOnScreen(*this);
  ApplyWindowPortSettings(ComPort);
  ConnectCommands();
  RunCommand([this] { FormCreate(); });
}

TForm1::~TForm1() = default;

void TForm1::ConnectCommands() {
  const auto command = [this](QPushButton* button, void (TForm1::*handler)()) {
    connect(button, &QPushButton::clicked, this,
            [this, handler] { RunCommand([this, handler] { (this->*handler)(); }); });
  };
  command(ui->Button36, &TForm1::Button36Click);
  command(ui->Button7, &TForm1::Button7Click);
  command(ui->Button8, &TForm1::Button8Click);
  command(ui->Button29, &TForm1::Button29Click);
  command(ui->Button5, &TForm1::Button5Click);
  command(ui->Button6, &TForm1::Button6Click);
  command(ui->Button2, &TForm1::Button2Click);
  command(ui->Button1, &TForm1::Button1Click);
  connect(ui->RxSlider1, &QSlider::valueChanged, this, &TForm1::RxSlider1Change);
  connect(ui->RxSlider2, &QSlider::valueChanged, this, &TForm1::RxSlider2Change);
}

void TForm1::FormCreate() {
  Button36Click();
  ui->Memo1->clear();
  ui->Label5->setText(QString::number(ReadDelay()));
  ui->Label7->setText(QString::number(SearchDelay()));
}

void TForm1::Button36Click() {
  const std::string found = SearchSign(ComPort, Exchange(), SearchDelay());
  if (found.empty()) {
    ShowMessage(QStringLiteral("Табло не найдено. Проверьте кабель подключения табло"));
    return;
  }
  ShowMessage(QStringLiteral("Стела подключена на порт : ") + QString::fromStdString(found));
  ComPort.SetPort(found);
  ComPort.OpenPort();
  ui->StatusBar1->showMessage(QStringLiteral("Работаем на ") + QString::fromStdString(found));
}

void TForm1::Button1Click() { close(); }

void TForm1::RxSlider1Change(int value) { ui->Label5->setText(QString::number(value)); }

void TForm1::RxSlider2Change(int value) { ui->Label7->setText(QString::number(value)); }

void TForm1::RunCommand(const std::function<void()>& command) {
  QString error;
  try {
    command();
    return;
  } catch (const std::exception& e) {
    error = QString::fromUtf8(e.what());
  } catch (...) {
    error = QStringLiteral("Неизвестная ошибка");
  }
  ShowErrorReport(error);
  SetOperatorButtonsEnabled(true);
}

void TForm1::SetOperatorButtonsEnabled(bool enabled) {
  for (QPushButton* button : {ui->Button5, ui->Button7, ui->Button8, ui->Button6, ui->Button36,
                              ui->Button2, ui->Button1}) {
    button->setEnabled(enabled);
  }
}

void TForm1::AddLogLine(const std::string& line) {
  ui->Memo1->appendPlainText(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
}

QStringList TForm1::LogLines() const {
  const QString text = ui->Memo1->toPlainText();
  if (text.isEmpty()) return {};
  return text.split(u'\n');
}

void TForm1::ProcessMessages() { QCoreApplication::processEvents(); }

void TForm1::ShowProgress(int position) {
  ui->ProgressBar1->setRange(0, 8);
  ui->ProgressBar1->setValue(position);
  ProcessMessages();
}

int TForm1::ReadDelay() const { return ui->RxSlider1->value(); }

int TForm1::SearchDelay() const { return ui->RxSlider2->value(); }

sign_exchange::ExchangeContext TForm1::Exchange() {
  return {replyBuffer_, [this] { return ReadDelay(); },
          [this](const std::string& line) { AddLogLine(line); },
          [this](int position) { ShowProgress(position); }};
}

// ------------------------------------------- commands of the sign procedures

const TForm1::EntryRowControls& TForm1::Row(int row) const {
  return rows_.at(static_cast<size_t>(row - 1));
}

sign_link::EntryRow TForm1::EntryRowFromControls(int row) const {
  const EntryRowControls& controls = Row(row);
  return {controls.notUsed->isChecked(), controls.inscription1->isChecked(),
          controls.inscription2->isChecked(), controls.grade->currentIndex(),
          controls.price->Text()};
}

namespace {

// The bytes as they came off the line, one character each, as the price
// field shows them too.
void ShowOnLabel(QLabel& label, const std::string& text, Qt::GlobalColor colour) {
  QPalette palette = label.palette();
  palette.setColor(QPalette::WindowText, colour);
  label.setPalette(palette);
  label.setText(QString::fromStdString(sign_link::BytesAsText(text)));
}

}  // namespace

void TForm1::ShowPanelReading(const sign_exchange::PanelReading& reading) {
  const EntryRowControls& controls = Row(reading.step.entryRow);
  QLabel& label = reading.step.secondHalf ? *controls.secondHalfLabel : *controls.firstHalfLabel;
  if (!reading.good) {
    ShowOnLabel(label, std::string(sign_link::kBadReplyText), Qt::red);
    return;
  }
  ShowOnLabel(label, reading.priceText, Qt::green);
  if (reading.step.setsGradeAndInscriptions) {
    // A code outside the list gives an index the list lacks: no selection.
    controls.grade->setCurrentIndex(reading.view.gradeIndex);
    controls.inscription1->setChecked(reading.view.inscription1);
    controls.inscription2->setChecked(reading.view.inscription2);
  }
  controls.price->SetText(reading.priceText);
}

// A port error midway leaves through RunCommand, which gives the buttons back.
void TForm1::Button7Click() {
  SetOperatorButtonsEnabled(false);
  sign_exchange::ReadSign(link_, Exchange(),
                          [this](const sign_exchange::PanelReading& r) { ShowPanelReading(r); });
  SetOperatorButtonsEnabled(true);
}

void TForm1::Button8Click() {
  SetOperatorButtonsEnabled(false);
  Button29Click();
  Button7Click();
}

void TForm1::Button29Click() {
  sign_exchange::WriteSign(
      link_, [this](int row) { return EntryRowFromControls(row); }, Exchange());
}

void TForm1::ReadPanel(uint8_t address) { sign_exchange::ReadPanel(link_, address, Exchange()); }

void TForm1::WaitWriteAck() { sign_exchange::WaitWriteAck(link_, Exchange()); }

void TForm1::MakeCheckCode() { checkCode_ = sign_exchange::MakeCheckCode(replyBuffer_); }

void TForm1::Button5Click() {
  ShowMessage(QString::fromStdString(SetAutomaticBrightness(link_, replyBuffer_)));
}

void TForm1::Button6Click() {
  ShowMessage(
      QString::fromStdString(SetManualBrightness(link_, ui->MaskEdit7->Text(), replyBuffer_)));
}

void TForm1::Button2Click() { ConfigurePort(ComPort); }

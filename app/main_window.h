#pragma once
// The program's one window, Form1: the entry rows, the display labels, the
// operator buttons and the serial port object it owns for the whole run.
// Every command is the click handler of its button and runs to its end there.

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/com_port_link.h"
#include "protocol/exchange_context.h"
#include "protocol/read_sign.h"
#include "protocol/sign_link.h"
#include "serial/CPort.h"

class QCheckBox;
class QComboBox;
class QLabel;
class TMaskEdit;

namespace Ui {
class TForm1;
}

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // Builds the window from its definition and runs FormCreate, so the
  // start-up search and its message box come before the window is shown.
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;  // the port object goes with the window and closes the port

  TComPort& Port() { return ComPort; }

  // Start-up: the search, then a fresh exchange log and the delay labels.
  void FormCreate();

  // The commands, each run by its button through RunCommand.
  void Button36Click();  // sign search
  void Button7Click();   // read all panels
  void Button8Click();   // write all panels, then read them back
  void Button29Click();  // the write procedure, run only by Button8Click
  void Button5Click();   // automatic brightness
  void Button6Click();   // manual brightness
  void Button2Click();   // port configuration
  void Button1Click();   // exit

  // One panel into the reply buffer: its reply, or 16 blanks.
  void ReadPanel(uint8_t address);
  // Sends the frame in the reply buffer again and waits for WOK.
  void WaitWriteAck();
  // The check code of the frame body in the reply buffer, kept in
  // CheckCodeCharacters().
  void MakeCheckCode();
  const std::string& CheckCodeCharacters() const { return checkCode_; }

  void RxSlider1Change(int value);
  void RxSlider2Change(int value);

  // ------------------------------------------------ what the commands share

  // Runs a command; an error that leaves it is shown by the error report and
  // gives the operator buttons back, so a failed read or write never leaves
  // the window without them.
  void RunCommand(const std::function<void()>& command);

  // The seven operator buttons a long command disables meanwhile.
  void SetOperatorButtonsEnabled(bool enabled);

  // Appends one line to the exchange log (which keeps its last 10,000 lines).
  void AddLogLine(const std::string& line);
  QStringList LogLines() const;

  // Lets the window handle what is pending: repaints, the operator's input.
  void ProcessMessages();

  // Sets the progress bar's range to 0..8 and its position, then lets the
  // window repaint.
  void ShowProgress(int position);

  // The last answer of the sign; the write builds its frames in it.
  std::string& ReplyBuffer() { return replyBuffer_; }
  // Taken from the hidden sliders at every use.
  int ReadDelay() const;
  int SearchDelay() const;

  // The reply buffer, read delay, log and progress bar as the sign's
  // procedures take them.
  sign_exchange::ExchangeContext Exchange();

 private:
  // The controls of one entry row and the two display labels of its panels.
  struct EntryRowControls {
    QCheckBox* notUsed;
    QCheckBox* inscription1;
    QCheckBox* inscription2;
    QComboBox* grade;
    TMaskEdit* price;
    QLabel* firstHalfLabel;
    QLabel* secondHalfLabel;
  };

  void ConnectCommands();
  const EntryRowControls& Row(int row) const;  // 1 (top) .. 5 (bottom)
  sign_link::EntryRow EntryRowFromControls(int row) const;
  void ShowPanelReading(const sign_exchange::PanelReading& reading);

  std::unique_ptr<Ui::TForm1> ui;
  TComPort ComPort;
  ComPortLink link_{ComPort};
  std::string replyBuffer_;
  std::string checkCode_;
  std::vector<EntryRowControls> rows_;
};

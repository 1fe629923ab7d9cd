#include "serial/CPort.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "serial/port/com_thread.h"
#include "serial/port/event_word.h"
#include "serial/port/line_settings.h"
#include "serial/port/serial_line.h"
#include "serial/port/window_handover.h"

// What the port holds while it runs: the device while open, its event thread,
// and the hand-over object, which lives in the thread that created the port.
class TCustomComPort::Device {
 public:
  WindowHandOver handOver;
  std::unique_ptr<SerialLine> line;
  std::unique_ptr<TComThread> thread;
};

namespace {

LineState LineStateOf(TBaudRate baudRate, int32_t customBaudRate, TDataBits dataBits,
                      TStopBits stopBits, const TComParity& parity, const TComFlowControl& flow,
                      bool discardNull, uint8_t eventChar) {
  LineState state;
  state.baudRate = baudRate;
  state.customBaudRate = customBaudRate;
  state.dataBits = dataBits;
  state.stopBits = stopBits;
  state.parity = parity.Bits();
  state.parityCheck = parity.Check();
  state.parityReplace = parity.Replace();
  state.parityReplaceChar = parity.ReplaceChar();
  state.outCTSFlow = flow.OutCTSFlow();
  state.controlDTR = flow.ControlDTR();
  state.controlRTS = flow.ControlRTS();
  state.xonXoffOut = flow.XonXoffOut();
  state.xonXoffIn = flow.XonXoffIn();
  state.xonChar = flow.XonChar();
  state.xoffChar = flow.XoffChar();
  state.discardNull = discardNull;
  state.eventChar = eventChar;
  return state;
}

// Sets a flag for the life of a scope.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

LineTimeouts LineTimeoutsOf(const TComTimeouts& timeouts) {
  LineTimeouts line;
  line.readInterval = timeouts.ReadInterval();
  line.readTotalMultiplier = timeouts.ReadTotalMultiplier();
  line.readTotalConstant = timeouts.ReadTotalConstant();
  line.writeTotalMultiplier = timeouts.WriteTotalMultiplier();
  line.writeTotalConstant = timeouts.WriteTotalConstant();
  return line;
}

}  // namespace

TCustomComPort::TCustomComPort() : device_(std::make_unique<Device>()) {}

TCustomComPort::~TCustomComPort() {
  try {
    ClosePort();
  } catch (...) {
    // A close handler raised: the device is closed all the same.
    CloseDevice();
    connected_ = false;
  }
  const auto notifications = std::move(freeNotifications_);
  for (const auto& [id, notify] : notifications) notify();
}

int TCustomComPort::AddFreeNotification(std::function<void()> notify) {
  freeNotifications_[++lastNotificationId_] = std::move(notify);
  return lastNotificationId_;
}

void TCustomComPort::RemoveFreeNotification(int id) { freeNotifications_.erase(id); }

// ------------------------------------------------------------ open and close

void TCustomComPort::OpenPort() {
  if (Connected()) return;
  if (OnBeforeOpen) OnBeforeOpen(*this);
  OpenDevice();
  connected_ = true;
  try {
    ApplyAllSettings();
  } catch (...) {
    CloseDevice();
    connected_ = false;
    throw;
  }
  if (!events_.Empty()) {
    device_->thread = std::make_unique<TComThread>(*this, *device_->line, device_->handOver);
  }
  if (OnAfterOpen) OnAfterOpen(*this);
  const bool cts = (ModemStatus() & kModemCTSOn) != 0;
  if (OnCTSChange) OnCTSChange(*this, cts);
  const bool dsr = (ModemStatus() & kModemDSROn) != 0;
  if (OnDSRChange) OnDSRChange(*this, dsr);
  const bool rlsd = (ModemStatus() & kModemRLSDOn) != 0;
  if (OnRLSDChange) OnRLSDChange(*this, rlsd);
}

void TCustomComPort::ClosePort() {
  // A handler that closes the port again while it is being closed (from a
  // close handler or a hand-over served meanwhile) finds nothing to do.
  if (!Connected() || closing_) return;
  const FlagScope closing(closing_);
  if (OnCTSChange) OnCTSChange(*this, false);
  if (OnDSRChange) OnDSRChange(*this, false);
  if (OnRLSDChange) OnRLSDChange(*this, false);
  if (OnBeforeClose) OnBeforeClose(*this);
  // Transfers run to their end inside their calls here, so none is pending
  // that would need aborting, and closing cannot fail on an unplugged device.
  StopEventThread();
  CloseDevice();
  connected_ = false;
  if (OnAfterClose) OnAfterClose(*this);
}

bool TCustomComPort::Connected() const { return connected_; }

void TCustomComPort::SetConnected(bool value) {
  if (value) {
    OpenPort();
  } else {
    ClosePort();
  }
}

void TCustomComPort::OpenDevice() { device_->line = std::make_unique<SerialLine>(port_); }

void TCustomComPort::CloseDevice() {
  // The event thread watches the device: it ends first.
  StopEventThread();
  device_->line.reset();
}

void TCustomComPort::StopEventThread() {
  if (!device_->thread) return;
  device_->thread->Stop();
  device_->thread.reset();
}

// ------------------------------------------------------- applying settings

void TCustomComPort::ApplyAllSettings() {
  ApplyDeviceBuffers();
  ApplyDeviceState();
  ApplyDeviceTimeouts();
}

bool TCustomComPort::Applying() const {
  return Connected() && updateCount_ == 0 && device_->line != nullptr;
}

void TCustomComPort::ApplyDeviceState() {
  if (!Applying()) return;
  device_->line->ApplyState(LineStateOf(baudRate_, customBaudRate_, dataBits_, stopBits_, parity_,
                                        flowControl_, discardNull_, eventChar_));
}

void TCustomComPort::ApplyDeviceTimeouts() {
  if (!Applying()) return;
  device_->line->ApplyTimeouts(LineTimeoutsOf(timeouts_));
}

void TCustomComPort::ApplyDeviceBuffers() {
  if (!Applying()) return;
  device_->line->ApplyBuffers(buffer_.InputSize(), buffer_.OutputSize());
}

void TCustomComPort::BeginSettingsUpdate() { ++updateCount_; }

void TCustomComPort::EndSettingsUpdate() {
  if (updateCount_ == 0) return;
  if (--updateCount_ == 0) ApplyAllSettings();
}

// -------------------------------------------------------------- transfers

SerialLine& TCustomComPort::Line(int errorCode) const {
  if (!device_->line) throw EComPort(errorCode, EBADF);
  return *device_->line;
}

void TCustomComPort::PurgeBuffers(bool input, bool output) { Line(kErrPurge).Purge(input, output); }

int32_t TCustomComPort::SendText(const std::string& text) { return Line(kErrWrite).Send(text); }

int32_t TCustomComPort::InputQueueCount() { return Line(kErrClearError).QueueCount(); }

int32_t TCustomComPort::WaitForInput(int32_t count, int32_t timeoutMs) {
  SerialLine& line = Line(kErrClearError);
  if (count > 0) {
    line.WaitForInput(static_cast<size_t>(count),
                      Deadline::After(std::chrono::milliseconds(std::max(timeoutMs, 0))));
  }
  return InputQueueCount();
}

int32_t TCustomComPort::ReadBytes(std::string& text, int32_t count) {
  text.clear();
  if (count <= 0) return 0;
  const int32_t read = Line(kErrRead).Read(text, count);
  InputQueueCount();
  return read;
}

uint32_t TCustomComPort::ModemStatus() const { return Line(kErrModemStatus).ModemStatus(); }

// ----------------------------------------------------------------- events

void TCustomComPort::HandleEvents(TComEvents word) {
  if (word.Contains(evError)) {
    const TComErrors errors = Line(kErrClearError).TakeLineErrors();
    if (!errors.Empty() && OnError) OnError(*this, errors);
  }
  if (word.Contains(evRxChar)) {
    const int32_t count = InputQueueCount();
    if (count > 0 && OnRxChar) OnRxChar(*this, count);
  }
  if (word.Contains(evTxEmpty) && OnTxEmpty) OnTxEmpty(*this);
  if (word.Contains(evBreak) && OnBreak) OnBreak(*this);
  if (word.Contains(evRing) && OnRing) OnRing(*this);
  if (word.Contains(evCTS) || word.Contains(evDSR)) {
    const uint32_t status = ModemStatus();
    if (word.Contains(evCTS) && OnCTSChange) OnCTSChange(*this, (status & kModemCTSOn) != 0);
    if (word.Contains(evDSR) && OnDSRChange) OnDSRChange(*this, (status & kModemDSROn) != 0);
  }
  if (word.Contains(evRxFlag) && OnRxFlag) OnRxFlag(*this);
  if (word.Contains(evRLSD)) {
    const bool on = (ModemStatus() & kModemRLSDOn) != 0;
    if (OnRLSDChange) OnRLSDChange(*this, on);
  }
  if (word.Contains(evRx80Full) && OnRx80Full) OnRx80Full(*this);
}

// --------------------------------------------------------- port settings

void TCustomComPort::SetPort(const std::string& value) {
  if (value == port_) return;
  port_ = value;
  if (Connected()) {
    ClosePort();
    OpenPort();
  }
}

void TCustomComPort::SetBaudRate(TBaudRate value) {
  if (value == baudRate_) return;
  baudRate_ = value;
  ApplyDeviceState();
}

void TCustomComPort::SetCustomBaudRate(int32_t value) {
  if (value == customBaudRate_) return;
  customBaudRate_ = value;
  ApplyDeviceState();
}

void TCustomComPort::SetDataBits(TDataBits value) {
  if (value == dataBits_) return;
  dataBits_ = value;
  ApplyDeviceState();
}

void TCustomComPort::SetStopBits(TStopBits value) {
  if (value == stopBits_) return;
  stopBits_ = value;
  ApplyDeviceState();
}

void TCustomComPort::SetDiscardNull(bool value) {
  if (value == discardNull_) return;
  discardNull_ = value;
  ApplyDeviceState();
}

void TCustomComPort::SetEventChar(uint8_t value) {
  if (value == eventChar_) return;
  eventChar_ = value;
  ApplyDeviceState();
}

void TCustomComPort::SetParity(const TComParity& value) { value.AssignTo(parity_); }
void TCustomComPort::SetFlowControl(const TComFlowControl& value) { value.AssignTo(flowControl_); }
void TCustomComPort::SetTimeouts(const TComTimeouts& value) { value.AssignTo(timeouts_); }
void TCustomComPort::SetBuffer(const TComBuffer& value) { value.AssignTo(buffer_); }

// The event thread takes Events when it starts; a change reaches the next one.
void TCustomComPort::SetEvents(TComEvents value) { events_ = value; }

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
  if (Connected()) throw EComPort(kErrConnectedProperty);
  syncMethod_ = value;
}

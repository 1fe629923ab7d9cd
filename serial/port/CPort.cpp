#include "serial/CPort.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "serial/port/com_thread.h"
#include "serial/port/event_word.h"
#include "serial/port/life_token.h"
#include "serial/port/line_settings.h"
#include "serial/port/serial_line.h"
#include "serial/port/window_handover.h"

// What the port holds while it runs: the device while open, its event thread,
// and the hand-over object, which lives in the thread that created the port.
// The token expires with the port.
class TCustomComPort::Device {
 public:
  LifeToken life;
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
  // Also inside a settings update: a device opened there must not keep the
  // line as it was found (echoing, translating, returning empty reads).
  ApplyDeviceBuffers(ApplyScope::kWhole);
  ApplyDeviceState(ApplyScope::kWhole);
  ApplyDeviceTimeouts(ApplyScope::kWhole);
}

bool TCustomComPort::Applying(ApplyScope scope) const {
  return Connected() && device_->line != nullptr &&
         (scope == ApplyScope::kWhole || updateCount_ == 0);
}

void TCustomComPort::ApplyDeviceState(ApplyScope scope) {
  if (!Applying(scope)) return;
  device_->line->ApplyState(LineStateOf(baudRate_, customBaudRate_, dataBits_, stopBits_, parity_,
                                        flowControl_, discardNull_, eventChar_));
}

void TCustomComPort::ApplyDeviceTimeouts(ApplyScope scope) {
  if (!Applying(scope)) return;
  device_->line->ApplyTimeouts(LineTimeoutsOf(timeouts_));
}

void TCustomComPort::ApplyDeviceBuffers(ApplyScope scope) {
  if (!Applying(scope)) return;
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
  // A handler may close or destroy the port: the rest of the word is then
  // left unhandled, and a destroyed port is not touched again.
  const std::weak_ptr<const void> life = device_->life.Watch();
  const auto fire = [&](const auto& handler, auto... args) {
    if (handler) handler(*this, args...);
    return !life.expired() && connected_;
  };
  if (word.Contains(evError)) {
    const TComErrors errors = Line(kErrClearError).TakeLineErrors();
    if (!errors.Empty() && !fire(OnError, errors)) return;
  }
  if (word.Contains(evRxChar)) {
    const int32_t count = InputQueueCount();
    if (count > 0 && !fire(OnRxChar, count)) return;
  }
  if (word.Contains(evTxEmpty) && !fire(OnTxEmpty)) return;
  if (word.Contains(evBreak) && !fire(OnBreak)) return;
  if (word.Contains(evRing) && !fire(OnRing)) return;
  if (word.Contains(evCTS) || word.Contains(evDSR)) {
    const uint32_t status = ModemStatus();
    if (word.Contains(evCTS) && !fire(OnCTSChange, (status & kModemCTSOn) != 0)) return;
    if (word.Contains(evDSR) && !fire(OnDSRChange, (status & kModemDSROn) != 0)) return;
  }
  if (word.Contains(evRxFlag) && !fire(OnRxFlag)) return;
  if (word.Contains(evRLSD) && !fire(OnRLSDChange, (ModemStatus() & kModemRLSDOn) != 0)) return;
  if (word.Contains(evRx80Full)) fire(OnRx80Full);
}

void TCustomComPort::HandleHandedOver(TComEvents word) {
  // Once a close has begun the port reports nothing more: a handler served
  // while the close waits for the thread could otherwise destroy the port
  // under it.
  if (connected_ && !closing_) HandleEvents(word);
}

// --------------------------------------------------------- port settings

void TCustomComPort::SetPort(const std::string& value) {
  if (value == port_) return;
  // A new name on an open port means closing and reopening it, which cannot
  // happen inside its close: refused, so the change is not lost unseen.
  if (closing_ && Connected()) throw EComPort(kErrConnectedProperty);
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

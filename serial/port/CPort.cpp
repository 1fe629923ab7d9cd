#include "serial/CPort.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <utility>

#include "serial/port/com_thread.h"
#include "serial/port/event_word.h"
#include "serial/port/life_token.h"
#include "serial/port/line_settings.h"
#include "serial/port/serial_line.h"
#include "serial/port/window_handover.h"

// What the port holds while it runs: the device while open, its event thread,
// and the hand-over object, which lives in the thread that created the port.
// The life token expires with the port, the open token also when the device
// is closed or opened anew.
class TCustomComPort::Device {
 public:
  LifeToken life;
  LifeToken open;
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

// Sets a flag of its owner for the life of a scope; an owner gone meanwhile
// is left alone.
class FlagScope {
 public:
  FlagScope(bool& flag, std::weak_ptr<const void> owner) : flag_(flag), owner_(std::move(owner)) {
    flag_ = true;
  }
  ~FlagScope() {
    if (!owner_.expired()) flag_ = false;
  }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
  const std::weak_ptr<const void> owner_;
};

// Calls a handler of the port, if it has one, and says whether its caller may
// go on: not once the watched token expired, the handler having closed or
// destroyed the port. Only the caller's own copy of the watch is read then,
// nothing of the port, which another thread may already be destroying.
template <typename Handler, typename... Args>
bool Fire(const std::weak_ptr<const void>& watch, const Handler& handler, TCustomComPort& port,
          Args... args) {
  if (handler) handler(port, args...);
  return !watch.expired();
}

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
  // A handler may close or destroy the port: the open ends there quietly.
  if (!Fire(device_->life.Watch(), OnBeforeOpen, *this) || Connected()) return;
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
  const std::weak_ptr<const void> open = device_->open.Watch();
  if (!Fire(open, OnAfterOpen, *this)) return;
  if (!Fire(open, OnCTSChange, *this, (ModemStatus() & kModemCTSOn) != 0)) return;
  if (!Fire(open, OnDSRChange, *this, (ModemStatus() & kModemDSROn) != 0)) return;
  Fire(open, OnRLSDChange, *this, (ModemStatus() & kModemRLSDOn) != 0);
}

void TCustomComPort::ClosePort() {
  // A handler that closes the port again while it is being closed (from a
  // close handler or a hand-over served meanwhile) finds nothing to do; one
  // that destroys it ends the close there.
  if (!Connected() || closing_) return;
  const std::weak_ptr<const void> life = device_->life.Watch();
  const FlagScope closing(closing_, life);
  if (!Fire(life, OnCTSChange, *this, false) || !Fire(life, OnDSRChange, *this, false) ||
      !Fire(life, OnRLSDChange, *this, false) || !Fire(life, OnBeforeClose, *this)) {
    return;
  }
  // Transfers run to their end inside their calls here, so none is pending
  // that would need aborting, and closing cannot fail on an unplugged device.
  StopEventThread();
  CloseDevice();
  connected_ = false;
  Fire(life, OnAfterClose, *this);
}

bool TCustomComPort::Connected() const { return connected_; }

void TCustomComPort::SetConnected(bool value) {
  if (value) {
    OpenPort();
  } else {
    ClosePort();
  }
}

void TCustomComPort::OpenDevice() {
  device_->line = std::make_unique<SerialLine>(port_);
  device_->open.Renew();
}

void TCustomComPort::CloseDevice() {
  // The event thread watches the device: it ends first.
  StopEventThread();
  device_->line.reset();
  device_->open.Renew();
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
  // left unhandled, and the port is not touched again.
  const std::weak_ptr<const void> open = device_->open.Watch();
  const auto fire = [&](const auto& handler, auto... args) {
    return Fire(open, handler, *this, args...);
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

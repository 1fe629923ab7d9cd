// The four settings objects: each stores a changed field and has its port
// re-apply the part of the driver state it belongs to.
#include "serial/CPort.h"

namespace {

// Stores value in field when it differs; tells whether it did.
template <typename T>
bool Store(T& field, T value) {
  if (field == value) return false;
  field = value;
  return true;
}

// The driver takes even queue sizes: an odd positive size is one too many.
int32_t EvenSize(int32_t value) { return value > 0 && value % 2 != 0 ? value - 1 : value; }

}  // namespace

// ------------------------------------------------------------------ parity

void TComParity::SetBits(TParityBits value) {
  if (Store(bits_, value)) Changed();
}
void TComParity::SetCheck(bool value) {
  if (Store(check_, value)) Changed();
}
void TComParity::SetReplace(bool value) {
  if (Store(replace_, value)) Changed();
}
void TComParity::SetReplaceChar(uint8_t value) {
  if (Store(replaceChar_, value)) Changed();
}

void TComParity::AssignTo(TComParity& dest) const {
  dest.bits_ = bits_;
  dest.check_ = check_;
  dest.replace_ = replace_;
  dest.replaceChar_ = replaceChar_;
  dest.Changed();
}

void TComParity::Changed() {
  if (port_ != nullptr) port_->ApplyDeviceState();
}

// ------------------------------------------------------------ flow control

void TComFlowControl::SetOutCTSFlow(bool value) {
  if (Store(outCTSFlow_, value)) Changed();
}
void TComFlowControl::SetOutDSRFlow(bool value) {
  if (Store(outDSRFlow_, value)) Changed();
}
void TComFlowControl::SetControlDTR(TDTRFlowControl value) {
  if (Store(controlDTR_, value)) Changed();
}
void TComFlowControl::SetControlRTS(TRTSFlowControl value) {
  if (Store(controlRTS_, value)) Changed();
}
void TComFlowControl::SetXonXoffOut(bool value) {
  if (Store(xonXoffOut_, value)) Changed();
}
void TComFlowControl::SetXonXoffIn(bool value) {
  if (Store(xonXoffIn_, value)) Changed();
}
void TComFlowControl::SetDSRSensitivity(bool value) {
  if (Store(dsrSensitivity_, value)) Changed();
}
void TComFlowControl::SetTxContinueOnXoff(bool value) {
  if (Store(txContinueOnXoff_, value)) Changed();
}
void TComFlowControl::SetXonChar(uint8_t value) {
  if (Store(xonChar_, value)) Changed();
}
void TComFlowControl::SetXoffChar(uint8_t value) {
  if (Store(xoffChar_, value)) Changed();
}

TFlowControl TComFlowControl::FlowControl() const {
  if (controlRTS_ == rtsHandshake && outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) {
    return fcHardware;
  }
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffIn_ && xonXoffOut_) return fcSoftware;
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) return fcNone;
  return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
  if (value != fcCustom) {
    controlRTS_ = rtsDisable;
    outCTSFlow_ = false;
    xonXoffIn_ = false;
    xonXoffOut_ = false;
  }
  if (value == fcHardware) {
    controlRTS_ = rtsHandshake;
    outCTSFlow_ = true;
  } else if (value == fcSoftware) {
    xonXoffIn_ = true;
    xonXoffOut_ = true;
  }
  Changed();
}

void TComFlowControl::AssignTo(TComFlowControl& dest) const {
  dest.outCTSFlow_ = outCTSFlow_;
  dest.outDSRFlow_ = outDSRFlow_;
  dest.controlDTR_ = controlDTR_;
  dest.controlRTS_ = controlRTS_;
  dest.xonXoffOut_ = xonXoffOut_;
  dest.xonXoffIn_ = xonXoffIn_;
  dest.dsrSensitivity_ = dsrSensitivity_;
  dest.txContinueOnXoff_ = txContinueOnXoff_;
  dest.xonChar_ = xonChar_;
  dest.xoffChar_ = xoffChar_;
  dest.Changed();
}

void TComFlowControl::Changed() {
  if (port_ != nullptr) port_->ApplyDeviceState();
}

// ---------------------------------------------------------------- time-outs

void TComTimeouts::SetReadInterval(int32_t value) {
  if (Store(readInterval_, value)) Changed();
}
void TComTimeouts::SetReadTotalMultiplier(int32_t value) {
  if (Store(readTotalMultiplier_, value)) Changed();
}
void TComTimeouts::SetReadTotalConstant(int32_t value) {
  if (Store(readTotalConstant_, value)) Changed();
}
void TComTimeouts::SetWriteTotalMultiplier(int32_t value) {
  if (Store(writeTotalMultiplier_, value)) Changed();
}
void TComTimeouts::SetWriteTotalConstant(int32_t value) {
  if (Store(writeTotalConstant_, value)) Changed();
}

void TComTimeouts::AssignTo(TComTimeouts& dest) const {
  dest.readInterval_ = readInterval_;
  dest.readTotalMultiplier_ = readTotalMultiplier_;
  dest.readTotalConstant_ = readTotalConstant_;
  dest.writeTotalMultiplier_ = writeTotalMultiplier_;
  dest.writeTotalConstant_ = writeTotalConstant_;
  dest.Changed();
}

void TComTimeouts::Changed() {
  if (port_ != nullptr) port_->ApplyDeviceTimeouts();
}

// ------------------------------------------------------------------ buffer

void TComBuffer::SetInputSize(int32_t value) {
  if (Store(inputSize_, EvenSize(value))) Changed();
}
void TComBuffer::SetOutputSize(int32_t value) {
  if (Store(outputSize_, EvenSize(value))) Changed();
}

void TComBuffer::AssignTo(TComBuffer& dest) const {
  dest.inputSize_ = inputSize_;
  dest.outputSize_ = outputSize_;
  dest.Changed();
}

void TComBuffer::Changed() {
  if (port_ != nullptr) port_->ApplyDeviceBuffers();
}

#pragma once
// The serial port component: settings, open and close, synchronous transfers,
// queue counts and purges, its error type and its event thread. The device,
// termios and descriptors live in the implementation; this header shows none.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

// ---------------------------------------------------------------- value types

enum TBaudRate {
  brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200,
  br38400, br56000, br57600, br115200, br128000, br256000
};
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TSyncMethod { smThreadSync, smWindowSync, smNone };
enum TComEvent {
  evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full
};
enum TComError { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
enum TStoredProp { pgBasic, pgFlowControl, pgBuffer, pgTimeouts, pgParity, pgOther };

// A set of enumeration values, one bit per value.
template <typename E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> values) {
    for (E v : values) bits_ |= Bit(v);
  }
  static constexpr TSet FromBits(uint32_t bits) {
    TSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
  constexpr void Include(E v) { bits_ |= Bit(v); }
  constexpr void Exclude(E v) { bits_ &= ~Bit(v); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr uint32_t Bits() const { return bits_; }
  constexpr bool operator==(const TSet&) const = default;

 private:
  static constexpr uint32_t Bit(E v) { return 1u << static_cast<unsigned>(v); }
  uint32_t bits_ = 0;
};

using TComEvents = TSet<TComEvent>;
using TComErrors = TSet<TComError>;
using TStoredProps = TSet<TStoredProp>;

inline constexpr TComEvents kAllComEvents{evRxChar, evTxEmpty, evRxFlag, evRing, evBreak,
                                         evCTS,    evDSR,     evError,  evRLSD, evRx80Full};

// ---------------------------------------------------------------- the error

// Error numbers of the component; the numbering is fixed, also for codes that
// nothing raises.
enum EComPortCode {
  kErrOpen = 1, kErrWrite, kErrRead, kErrInvalidAsync, kErrPurge, kErrAsyncStatus,
  kErrSetState, kErrSetTimeouts, kErrSetupQueues, kErrClearError, kErrModemStatus,
  kErrEscape, kErrTransmitChar, kErrConnectedProperty, kErrEnumPorts, kErrStore, kErrLoad,
  kErrLink, kErrLedState, kErrThreadCreated, kErrWaitForEvent, kErrRxBufLinked, kErrRegistry
};

class EComPort : public std::runtime_error {
 public:
  // systemError -1: the error has no platform number and no suffix.
  explicit EComPort(int errorCode, int systemError = -1);
  int ErrorCode() const { return errorCode_; }
  int SystemError() const { return systemError_; }

 private:
  int errorCode_;
  int systemError_;
};

// The untranslated text of an error code ("" outside 1..23).
const char* ComErrorText(int errorCode);

// --------------------------------------------------------- settings objects

class TCustomComPort;

// Base of the four settings objects: a back reference to the port, which
// re-applies the part of the driver state an object belongs to.
class TComSettingsObject {
 public:
  TComSettingsObject(const TComSettingsObject&) = delete;
  TComSettingsObject& operator=(const TComSettingsObject&) = delete;
  TCustomComPort* ComPort() const { return port_; }

 protected:
  explicit TComSettingsObject(TCustomComPort* port) : port_(port) {}
  ~TComSettingsObject() = default;
  TCustomComPort* port_;
};

class TComParity : public TComSettingsObject {
 public:
  explicit TComParity(TCustomComPort* port = nullptr) : TComSettingsObject(port) {}
  TParityBits Bits() const { return bits_; }
  void SetBits(TParityBits value);
  bool Check() const { return check_; }
  void SetCheck(bool value);
  bool Replace() const { return replace_; }
  void SetReplace(bool value);
  uint8_t ReplaceChar() const { return replaceChar_; }
  void SetReplaceChar(uint8_t value);
  // Copies every field onto dest; dest's port re-applies its line state once.
  void AssignTo(TComParity& dest) const;

 private:
  void Changed();
  TParityBits bits_ = prNone;
  bool check_ = false;
  bool replace_ = false;
  uint8_t replaceChar_ = 0;
};

class TComFlowControl : public TComSettingsObject {
 public:
  explicit TComFlowControl(TCustomComPort* port = nullptr) : TComSettingsObject(port) {}
  bool OutCTSFlow() const { return outCTSFlow_; }
  void SetOutCTSFlow(bool value);
  bool OutDSRFlow() const { return outDSRFlow_; }
  void SetOutDSRFlow(bool value);
  TDTRFlowControl ControlDTR() const { return controlDTR_; }
  void SetControlDTR(TDTRFlowControl value);
  TRTSFlowControl ControlRTS() const { return controlRTS_; }
  void SetControlRTS(TRTSFlowControl value);
  bool XonXoffOut() const { return xonXoffOut_; }
  void SetXonXoffOut(bool value);
  bool XonXoffIn() const { return xonXoffIn_; }
  void SetXonXoffIn(bool value);
  bool DSRSensitivity() const { return dsrSensitivity_; }
  void SetDSRSensitivity(bool value);
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  void SetTxContinueOnXoff(bool value);
  uint8_t XonChar() const { return xonChar_; }
  void SetXonChar(uint8_t value);
  uint8_t XoffChar() const { return xoffChar_; }
  void SetXoffChar(uint8_t value);
  // The computed summary; setting it rewrites the fields it covers.
  TFlowControl FlowControl() const;
  void SetFlowControl(TFlowControl value);
  void AssignTo(TComFlowControl& dest) const;

 private:
  void Changed();
  bool outCTSFlow_ = false;
  bool outDSRFlow_ = false;
  TDTRFlowControl controlDTR_ = dtrDisable;
  TRTSFlowControl controlRTS_ = rtsDisable;
  bool xonXoffOut_ = false;
  bool xonXoffIn_ = false;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = false;
  uint8_t xonChar_ = 0x11;
  uint8_t xoffChar_ = 0x13;
};

class TComTimeouts : public TComSettingsObject {
 public:
  explicit TComTimeouts(TCustomComPort* port = nullptr) : TComSettingsObject(port) {}
  int32_t ReadInterval() const { return readInterval_; }
  void SetReadInterval(int32_t value);
  int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
  void SetReadTotalMultiplier(int32_t value);
  int32_t ReadTotalConstant() const { return readTotalConstant_; }
  void SetReadTotalConstant(int32_t value);
  int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
  void SetWriteTotalMultiplier(int32_t value);
  int32_t WriteTotalConstant() const { return writeTotalConstant_; }
  void SetWriteTotalConstant(int32_t value);
  void AssignTo(TComTimeouts& dest) const;

 private:
  void Changed();
  int32_t readInterval_ = -1;
  int32_t readTotalMultiplier_ = 0;
  int32_t readTotalConstant_ = 0;
  int32_t writeTotalMultiplier_ = 100;
  int32_t writeTotalConstant_ = 1000;
};

class TComBuffer : public TComSettingsObject {
 public:
  explicit TComBuffer(TCustomComPort* port = nullptr) : TComSettingsObject(port) {}
  int32_t InputSize() const { return inputSize_; }
  void SetInputSize(int32_t value);  // an odd positive value is stored one below
  int32_t OutputSize() const { return outputSize_; }
  void SetOutputSize(int32_t value);
  void AssignTo(TComBuffer& dest) const;

 private:
  void Changed();
  int32_t inputSize_ = 1024;
  int32_t outputSize_ = 1024;
};

// ---------------------------------------------------------- event handlers

using TNotifyEvent = std::function<void(TCustomComPort& sender)>;
using TRxCharEvent = std::function<void(TCustomComPort& sender, int count)>;
using TRxBufEvent = std::function<void(TCustomComPort& sender, const char* buffer, int count)>;
using TComSignalEvent = std::function<void(TCustomComPort& sender, bool on)>;
using TComErrorEvent = std::function<void(TCustomComPort& sender, TComErrors errors)>;

// Stores of the settings (defined with the settings store).
class TRegistryKey;
class TIniFile;
// The open device, in the implementation.
class SerialLine;

// ------------------------------------------------------------ the component

// All state and behaviour of the port. Settings and handlers are protected
// here and published by TComPort.
class TCustomComPort {
 public:
  TCustomComPort();
  virtual ~TCustomComPort();  // closes the port
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  // The component's name ("ComPort" in the program): the last part of the
  // settings key and the section of the ini file.
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }

  // Objects bound to the port (the setup lists) are told when it is destroyed.
  int AddFreeNotification(std::function<void()> notify);
  void RemoveFreeNotification(int id);

  void OpenPort();
  void ClosePort();
  void PurgeBuffers(bool input, bool output);
  int32_t SendText(const std::string& text);
  int32_t InputQueueCount();
  // Waits on the line, not in sleeps, until count bytes wait for ReadBytes or
  // timeoutMs passed; returns InputQueueCount(). Raises as that does.
  int32_t WaitForInput(int32_t count, int32_t timeoutMs);
  int32_t ReadBytes(std::string& text, int32_t count);
  bool Connected() const;
  void SetConnected(bool value);

  // BeginSettingsUpdate/EndSettingsUpdate: hold back handing settings to the
  // driver; the outermost End applies them all at once.
  void BeginSettingsUpdate();
  void EndSettingsUpdate();

  // Settings persistence: location is a key text such as
  // "HKEY_LOCAL_MACHINE\Software\TARVO", or an ini file name.
  void SavePortSettings(bool toIniFile, const std::string& location);
  void LoadPortSettings(bool fromIniFile, const std::string& location);

  // Virtual operations, in their slot order.
  virtual void WriteSettingsToRegistry(TRegistryKey& key);
  virtual void WriteSettingsToIniFile(TIniFile& ini);
  virtual void ReadSettingsFromRegistry(TRegistryKey& key);
  virtual void ReadSettingsFromIniFile(TIniFile& ini);
  virtual void OpenDevice();
  virtual void CloseDevice();
  virtual void ApplyAllSettings();

 protected:
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& value);
  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate value);
  int32_t CustomBaudRate() const { return customBaudRate_; }
  void SetCustomBaudRate(int32_t value);
  TDataBits DataBits() const { return dataBits_; }
  void SetDataBits(TDataBits value);
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits value);
  TComParity& Parity() { return parity_; }
  const TComParity& Parity() const { return parity_; }
  void SetParity(const TComParity& value);
  TComFlowControl& FlowControl() { return flowControl_; }
  const TComFlowControl& FlowControl() const { return flowControl_; }
  void SetFlowControl(const TComFlowControl& value);
  TComTimeouts& Timeouts() { return timeouts_; }
  const TComTimeouts& Timeouts() const { return timeouts_; }
  void SetTimeouts(const TComTimeouts& value);
  TComBuffer& Buffer() { return buffer_; }
  const TComBuffer& Buffer() const { return buffer_; }
  void SetBuffer(const TComBuffer& value);
  bool DiscardNull() const { return discardNull_; }
  void SetDiscardNull(bool value);
  uint8_t EventChar() const { return eventChar_; }
  void SetEventChar(uint8_t value);
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents value);
  TSyncMethod SyncMethod() const { return syncMethod_; }
  void SetSyncMethod(TSyncMethod value);  // only while closed, else EComPort 14
  TStoredProps PersistedGroups() const { return persistedGroups_; }
  void SetPersistedGroups(TStoredProps value) { persistedGroups_ = value; }

  TNotifyEvent OnAfterOpen;
  TNotifyEvent OnAfterClose;
  TNotifyEvent OnBeforeOpen;
  TNotifyEvent OnBeforeClose;
  TRxCharEvent OnRxChar;
  TRxBufEvent OnRxBuf;
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnBreak;
  TNotifyEvent OnRing;
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TNotifyEvent OnRxFlag;
  TComErrorEvent OnError;
  TNotifyEvent OnRx80Full;

 private:
  friend class TComParity;
  friend class TComFlowControl;
  friend class TComTimeouts;
  friend class TComBuffer;
  friend class TComThread;
  friend struct PortSettingsPersistence;  // the bodies of the persistence operations
  class Device;  // descriptor, termios, own input queue, event thread hand-over

  // Re-apply one part of the driver state; no-ops while closed or updating.
  void ApplyDeviceState();
  void ApplyDeviceTimeouts();
  void ApplyDeviceBuffers();
  bool Applying() const;
  // The open device; on a closed port raises errorCode with EBADF, as the
  // reference platform does for its invalid handle.
  SerialLine& Line(int errorCode) const;
  uint32_t ModemStatus() const;  // raises 11
  // The event handling of one event word, in the window thread (or in the
  // event thread with smNone).
  void HandleEvents(TComEvents word);
  void StopEventThread();

  std::string name_;
  std::string port_ = "COM1";
  TBaudRate baudRate_ = br9600;
  int32_t customBaudRate_ = 9600;
  TDataBits dataBits_ = dbEight;
  TStopBits stopBits_ = sbOneStopBit;
  TComParity parity_{this};
  TComFlowControl flowControl_{this};
  TComTimeouts timeouts_{this};
  TComBuffer buffer_{this};
  bool discardNull_ = false;
  uint8_t eventChar_ = 0;
  TComEvents events_ = kAllComEvents;
  TSyncMethod syncMethod_ = smThreadSync;
  TStoredProps persistedGroups_{pgBasic};
  int updateCount_ = 0;
  bool connected_ = false;
  bool closing_ = false;
  std::map<int, std::function<void()>> freeNotifications_;
  int lastNotificationId_ = 0;
  std::unique_ptr<Device> device_;
};

// The published component: every setting and handler of TCustomComPort.
class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::Port;
  using TCustomComPort::SetPort;
  using TCustomComPort::BaudRate;
  using TCustomComPort::SetBaudRate;
  using TCustomComPort::CustomBaudRate;
  using TCustomComPort::SetCustomBaudRate;
  using TCustomComPort::DataBits;
  using TCustomComPort::SetDataBits;
  using TCustomComPort::StopBits;
  using TCustomComPort::SetStopBits;
  using TCustomComPort::Parity;
  using TCustomComPort::SetParity;
  using TCustomComPort::FlowControl;
  using TCustomComPort::SetFlowControl;
  using TCustomComPort::Timeouts;
  using TCustomComPort::SetTimeouts;
  using TCustomComPort::Buffer;
  using TCustomComPort::SetBuffer;
  using TCustomComPort::DiscardNull;
  using TCustomComPort::SetDiscardNull;
  using TCustomComPort::EventChar;
  using TCustomComPort::SetEventChar;
  using TCustomComPort::Events;
  using TCustomComPort::SetEvents;
  using TCustomComPort::SyncMethod;
  using TCustomComPort::SetSyncMethod;
  using TCustomComPort::PersistedGroups;
  using TCustomComPort::SetPersistedGroups;

  using TCustomComPort::OnAfterOpen;
  using TCustomComPort::OnAfterClose;
  using TCustomComPort::OnBeforeOpen;
  using TCustomComPort::OnBeforeClose;
  using TCustomComPort::OnRxChar;
  using TCustomComPort::OnRxBuf;
  using TCustomComPort::OnTxEmpty;
  using TCustomComPort::OnBreak;
  using TCustomComPort::OnRing;
  using TCustomComPort::OnCTSChange;
  using TCustomComPort::OnDSRChange;
  using TCustomComPort::OnRLSDChange;
  using TCustomComPort::OnRxFlag;
  using TCustomComPort::OnError;
  using TCustomComPort::OnRx80Full;
};

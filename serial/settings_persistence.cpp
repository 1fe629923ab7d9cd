// The port's own part of the settings store: which values each group writes,
// in which order and as which texts, and reading them back.

#include "serial/CPort.h"
#include "serial/ini_file.h"
#include "serial/settings_store.h"
#include "serial/value_texts.h"

namespace {

std::string AsText(const RegistryValue& value) {
  if (const auto* dword = std::get_if<uint32_t>(&value.data)) {
    return std::to_string(static_cast<int32_t>(*dword));
  }
  return std::get<std::string>(value.data);
}

RegistryLocation KeyOf(const std::string& keyText, const std::string& componentName) {
  const std::optional<RegistryLocation> location = LocationOfKeyText(keyText, componentName);
  if (!location) throw SettingsStoreError("the key text names no key: " + keyText);
  return *location;
}

// Reads of one value each; a missing value keeps the current setting.
std::string ReadText(const TRegistryKey& key, const char* name, const std::string& current) {
  return key.ReadString(name).value_or(current);
}

template <typename E>
E ReadValue(const TRegistryKey& key, const char* name, E current) {
  const std::optional<std::string> text = key.ReadString(name);
  return text ? ValueFromText<E>(*text) : current;
}

int32_t ReadInteger(const TRegistryKey& key, const char* name, int32_t current) {
  return key.ReadInteger(name).value_or(current);
}

bool ReadYesNo(const TRegistryKey& key, const char* name, bool current) {
  const std::optional<std::string> text = key.ReadString(name);
  if (!text) return current;
  const std::optional<bool> value = YesNoFromText(*text);
  if (!value) throw SettingsStoreError(std::string(name) + " is neither Yes nor No: " + *text);
  return *value;
}

uint8_t ReadByte(const TRegistryKey& key, const char* name, uint8_t current) {
  const std::optional<std::string> text = key.ReadString(name);
  if (!text) return current;
  const std::optional<uint8_t> value = ByteFromText(*text);
  if (!value) throw SettingsStoreError(std::string(name) + " is no byte: " + *text);
  return *value;
}

}  // namespace

// Every failure is the one store error. The file is replaced only once all
// values are written, so a failure leaves it exactly as it was.
void TCustomComPort::SavePortSettings(bool toIniFile, const std::string& location) {
  try {
    if (toIniFile) {
      TIniFile ini(location);
      WriteSettingsToIniFile(ini);
      ini.Flush();
    } else {
      TRegistryKey key = TRegistryKey::Open(KeyOf(location, Name()), true);
      WriteSettingsToRegistry(key);
      key.Flush();
    }
  } catch (const std::exception&) {
    throw EComPort(kErrStore);
  }
}

// A store that cannot be read, a missing key and a malformed value are the one
// load error; an error of the port itself (reopening under a new name) stays
// what it is.
void TCustomComPort::LoadPortSettings(bool fromIniFile, const std::string& location) {
  try {
    if (fromIniFile) {
      TIniFile ini(location);
      ReadSettingsFromIniFile(ini);
    } else {
      TRegistryKey key = TRegistryKey::Open(KeyOf(location, Name()), false);
      ReadSettingsFromRegistry(key);
    }
  } catch (const EComPort&) {
    throw;
  } catch (const std::exception&) {
    throw EComPort(kErrLoad);
  }
}

void TCustomComPort::WriteSettingsToRegistry(TRegistryKey& key) {
  const TStoredProps groups = PersistedGroups();
  if (groups.Contains(pgBasic)) {
    key.WriteString("Port", Port());
    key.WriteString("BaudRate", ValueText(BaudRate()));
    if (BaudRate() == brCustom) key.WriteInteger("CustomBaudRate", CustomBaudRate());
    key.WriteString("StopBits", ValueText(StopBits()));
    key.WriteString("DataBits", ValueText(DataBits()));
    key.WriteString("Parity", ValueText(Parity().Bits()));
    key.WriteString("FlowControl", ValueText(FlowControl().FlowControl()));
  }
  if (groups.Contains(pgOther)) {
    key.WriteString("EventChar", ByteText(EventChar()));
    key.WriteString("DiscardNull", YesNoText(DiscardNull()));
  }
  if (groups.Contains(pgParity)) {
    key.WriteString("Parity.Check", YesNoText(Parity().Check()));
    key.WriteString("Parity.Replace", YesNoText(Parity().Replace()));
    key.WriteString("Parity.ReplaceChar", ByteText(Parity().ReplaceChar()));
  }
  if (groups.Contains(pgBuffer)) {
    key.WriteInteger("Buffer.OutputSize", Buffer().OutputSize());
    key.WriteInteger("Buffer.InputSize", Buffer().InputSize());
  }
  if (groups.Contains(pgTimeouts)) {
    key.WriteInteger("Timeouts.ReadInterval", Timeouts().ReadInterval());
    key.WriteInteger("Timeouts.ReadTotalConstant", Timeouts().ReadTotalConstant());
    key.WriteInteger("Timeouts.ReadTotalMultiplier", Timeouts().ReadTotalMultiplier());
    key.WriteInteger("Timeouts.WriteTotalConstant", Timeouts().WriteTotalConstant());
    key.WriteInteger("Timeouts.WriteTotalMultiplier", Timeouts().WriteTotalMultiplier());
  }
  if (groups.Contains(pgFlowControl)) {
    const TComFlowControl& flow = FlowControl();
    key.WriteString("FlowControl.ControlRTS", ValueText(flow.ControlRTS()));
    key.WriteString("FlowControl.ControlDTR", ValueText(flow.ControlDTR()));
    key.WriteString("FlowControl.DSRSensitivity", YesNoText(flow.DSRSensitivity()));
    key.WriteString("FlowControl.OutCTSFlow", YesNoText(flow.OutCTSFlow()));
    key.WriteString("FlowControl.OutDSRFlow", YesNoText(flow.OutDSRFlow()));
    key.WriteString("FlowControl.TxContinueOnXoff", YesNoText(flow.TxContinueOnXoff()));
    key.WriteString("FlowControl.XonXoffIn", YesNoText(flow.XonXoffIn()));
    key.WriteString("FlowControl.XonXoffOut", YesNoText(flow.XonXoffOut()));
    key.WriteString("FlowControl.XoffChar", ByteText(flow.XoffChar()));
    key.WriteString("FlowControl.XonChar", ByteText(flow.XonChar()));
  }
}

// The section receives the registry's values in the same order, integers as
// decimal text. The registry writer is called directly so both targets always
// hold the same values.
void TCustomComPort::WriteSettingsToIniFile(TIniFile& ini) {
  TRegistryKey values;
  TCustomComPort::WriteSettingsToRegistry(values);
  for (const RegistryValue& value : values.Values())
    ini.WriteString(Name(), value.name, AsText(value));
}

// Every value is read and checked before the port changes, so a malformed
// value changes nothing. Texts that match no table entry fall back as the
// value-text tables say; a missing value keeps the current setting.
void TCustomComPort::ReadSettingsFromRegistry(TRegistryKey& key) {
  const TStoredProps groups = PersistedGroups();
  std::string port = Port();
  TBaudRate baudRate = BaudRate();
  int32_t customBaudRate = CustomBaudRate();
  TDataBits dataBits = DataBits();
  TStopBits stopBits = StopBits();
  uint8_t eventChar = EventChar();
  bool discardNull = DiscardNull();
  TComParity parity;
  Parity().AssignTo(parity);
  TComFlowControl flow;
  FlowControl().AssignTo(flow);
  TComTimeouts timeouts;
  Timeouts().AssignTo(timeouts);
  TComBuffer buffer;
  Buffer().AssignTo(buffer);

  if (groups.Contains(pgBasic)) {
    port = ReadText(key, "Port", port);
    baudRate = ReadValue(key, "BaudRate", baudRate);
    customBaudRate = ReadInteger(key, "CustomBaudRate", customBaudRate);
    stopBits = ReadValue(key, "StopBits", stopBits);
    dataBits = ReadValue(key, "DataBits", dataBits);
    parity.SetBits(ReadValue(key, "Parity", parity.Bits()));
    flow.SetFlowControl(ReadValue(key, "FlowControl", flow.FlowControl()));
  }
  if (groups.Contains(pgOther)) {
    eventChar = ReadByte(key, "EventChar", eventChar);
    discardNull = ReadYesNo(key, "DiscardNull", discardNull);
  }
  if (groups.Contains(pgParity)) {
    parity.SetCheck(ReadYesNo(key, "Parity.Check", parity.Check()));
    parity.SetReplace(ReadYesNo(key, "Parity.Replace", parity.Replace()));
    parity.SetReplaceChar(ReadByte(key, "Parity.ReplaceChar", parity.ReplaceChar()));
  }
  if (groups.Contains(pgBuffer)) {
    buffer.SetOutputSize(ReadInteger(key, "Buffer.OutputSize", buffer.OutputSize()));
    buffer.SetInputSize(ReadInteger(key, "Buffer.InputSize", buffer.InputSize()));
  }
  if (groups.Contains(pgTimeouts)) {
    timeouts.SetReadInterval(ReadInteger(key, "Timeouts.ReadInterval", timeouts.ReadInterval()));
    timeouts.SetReadTotalConstant(
        ReadInteger(key, "Timeouts.ReadTotalConstant", timeouts.ReadTotalConstant()));
    timeouts.SetReadTotalMultiplier(
        ReadInteger(key, "Timeouts.ReadTotalMultiplier", timeouts.ReadTotalMultiplier()));
    timeouts.SetWriteTotalConstant(
        ReadInteger(key, "Timeouts.WriteTotalConstant", timeouts.WriteTotalConstant()));
    timeouts.SetWriteTotalMultiplier(
        ReadInteger(key, "Timeouts.WriteTotalMultiplier", timeouts.WriteTotalMultiplier()));
  }
  if (groups.Contains(pgFlowControl)) {
    flow.SetControlRTS(ReadValue(key, "FlowControl.ControlRTS", flow.ControlRTS()));
    flow.SetControlDTR(ReadValue(key, "FlowControl.ControlDTR", flow.ControlDTR()));
    flow.SetDSRSensitivity(ReadYesNo(key, "FlowControl.DSRSensitivity", flow.DSRSensitivity()));
    flow.SetOutCTSFlow(ReadYesNo(key, "FlowControl.OutCTSFlow", flow.OutCTSFlow()));
    flow.SetOutDSRFlow(ReadYesNo(key, "FlowControl.OutDSRFlow", flow.OutDSRFlow()));
    flow.SetTxContinueOnXoff(
        ReadYesNo(key, "FlowControl.TxContinueOnXoff", flow.TxContinueOnXoff()));
    flow.SetXonXoffIn(ReadYesNo(key, "FlowControl.XonXoffIn", flow.XonXoffIn()));
    flow.SetXonXoffOut(ReadYesNo(key, "FlowControl.XonXoffOut", flow.XonXoffOut()));
    flow.SetXoffChar(ReadByte(key, "FlowControl.XoffChar", flow.XoffChar()));
    flow.SetXonChar(ReadByte(key, "FlowControl.XonChar", flow.XonChar()));
  }

  // While updating, the setters only store; the driver gets everything at once.
  BeginSettingsUpdate();
  SetBaudRate(baudRate);
  SetCustomBaudRate(customBaudRate);
  SetDataBits(dataBits);
  SetStopBits(stopBits);
  SetParity(parity);
  SetFlowControl(flow);
  SetTimeouts(timeouts);
  SetBuffer(buffer);
  SetEventChar(eventChar);
  SetDiscardNull(discardNull);
  EndSettingsUpdate();
  // Last, so that an open port reopens under the new name with all of the above.
  SetPort(port);
}

// The section's values are read as the registry's, integers from decimal text.
void TCustomComPort::ReadSettingsFromIniFile(TIniFile& ini) {
  const auto values = ini.ReadSection(Name());
  if (values.empty()) throw SettingsStoreError("no values in section [" + Name() + "]");
  TRegistryKey key;
  for (const auto& [name, text] : values) key.WriteString(name, text);
  TCustomComPort::ReadSettingsFromRegistry(key);
}

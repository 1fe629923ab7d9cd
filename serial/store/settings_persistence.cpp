// The port's own part of the settings store: which values each group writes,
// in which order and as which texts, and reading them back.

#include "serial/CPort.h"
#include "serial/port/persistence_slots.h"
#include "serial/store/ini_file.h"
#include "serial/store/settings_store.h"
#include "serial/store/value_texts.h"

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

// The bodies of the port's four persistence operations, with the port's
// protected settings at hand.
struct PortSettingsPersistence {
  static void WriteToRegistry(TCustomComPort& component, TRegistryKey& key);
  static void WriteToIniFile(TCustomComPort& component, TIniFile& ini);
  static void ReadFromRegistry(TCustomComPort& component, TRegistryKey& key);
  static void ReadFromIniFile(TCustomComPort& component, TIniFile& ini);
};

// Every failure is the one store error. The file is replaced only once all
// values are written, so a failure leaves it exactly as it was.
void TCustomComPort::SavePortSettings(bool toIniFile, const std::string& location) {
  try {
    if (toIniFile) {
      TIniFile ini(location, true);
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
      TIniFile ini(location, false);
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

void PortSettingsPersistence::WriteToRegistry(TCustomComPort& component, TRegistryKey& key) {
  const TStoredProps groups = component.PersistedGroups();
  if (groups.Contains(pgBasic)) {
    key.WriteString("Port", component.Port());
    key.WriteString("BaudRate", ValueText(component.BaudRate()));
    if (component.BaudRate() == brCustom)
      key.WriteInteger("CustomBaudRate", component.CustomBaudRate());
    key.WriteString("StopBits", ValueText(component.StopBits()));
    key.WriteString("DataBits", ValueText(component.DataBits()));
    key.WriteString("Parity", ValueText(component.Parity().Bits()));
    key.WriteString("FlowControl", ValueText(component.FlowControl().FlowControl()));
  }
  if (groups.Contains(pgOther)) {
    key.WriteString("EventChar", ByteText(component.EventChar()));
    key.WriteString("DiscardNull", YesNoText(component.DiscardNull()));
  }
  if (groups.Contains(pgParity)) {
    key.WriteString("Parity.Check", YesNoText(component.Parity().Check()));
    key.WriteString("Parity.Replace", YesNoText(component.Parity().Replace()));
    key.WriteString("Parity.ReplaceChar", ByteText(component.Parity().ReplaceChar()));
  }
  if (groups.Contains(pgBuffer)) {
    key.WriteInteger("Buffer.OutputSize", component.Buffer().OutputSize());
    key.WriteInteger("Buffer.InputSize", component.Buffer().InputSize());
  }
  if (groups.Contains(pgTimeouts)) {
    key.WriteInteger("Timeouts.ReadInterval", component.Timeouts().ReadInterval());
    key.WriteInteger("Timeouts.ReadTotalConstant", component.Timeouts().ReadTotalConstant());
    key.WriteInteger("Timeouts.ReadTotalMultiplier", component.Timeouts().ReadTotalMultiplier());
    key.WriteInteger("Timeouts.WriteTotalConstant", component.Timeouts().WriteTotalConstant());
    key.WriteInteger("Timeouts.WriteTotalMultiplier", component.Timeouts().WriteTotalMultiplier());
  }
  if (groups.Contains(pgFlowControl)) {
    const TComFlowControl& flow = component.FlowControl();
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
void PortSettingsPersistence::WriteToIniFile(TCustomComPort& component, TIniFile& ini) {
  TRegistryKey values;
  WriteToRegistry(component, values);
  for (const RegistryValue& value : values.Values())
    ini.WriteString(component.Name(), value.name, AsText(value));
}

// Every value is read and checked before the port changes, so a malformed
// value changes nothing. Texts that match no table entry fall back as the
// value-text tables say; a missing value keeps the current setting.
void PortSettingsPersistence::ReadFromRegistry(TCustomComPort& component, TRegistryKey& key) {
  const TStoredProps groups = component.PersistedGroups();
  std::string port = component.Port();
  TBaudRate baudRate = component.BaudRate();
  int32_t customBaudRate = component.CustomBaudRate();
  TDataBits dataBits = component.DataBits();
  TStopBits stopBits = component.StopBits();
  uint8_t eventChar = component.EventChar();
  bool discardNull = component.DiscardNull();
  TComParity parity;
  component.Parity().AssignTo(parity);
  TComFlowControl flow;
  component.FlowControl().AssignTo(flow);
  TComTimeouts timeouts;
  component.Timeouts().AssignTo(timeouts);
  TComBuffer buffer;
  component.Buffer().AssignTo(buffer);

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
  component.BeginSettingsUpdate();
  component.SetBaudRate(baudRate);
  component.SetCustomBaudRate(customBaudRate);
  component.SetDataBits(dataBits);
  component.SetStopBits(stopBits);
  component.SetParity(parity);
  component.SetFlowControl(flow);
  component.SetTimeouts(timeouts);
  component.SetBuffer(buffer);
  component.SetEventChar(eventChar);
  component.SetDiscardNull(discardNull);
  component.EndSettingsUpdate();
  // Last, so that an open port reopens under the new name with all of the above.
  component.SetPort(port);
}

// The section's values are read as the registry's, integers from decimal text.
void PortSettingsPersistence::ReadFromIniFile(TCustomComPort& component, TIniFile& ini) {
  const auto values = ini.ReadSection(component.Name());
  if (values.empty()) throw SettingsStoreError("no values in section [" + component.Name() + "]");
  TRegistryKey key;
  for (const auto& [name, text] : values) key.WriteString(name, text);
  ReadFromRegistry(component, key);
}

// The port's persistence slots call these; installed before main whenever the
// store is part of the program.
namespace {
[[maybe_unused]] const bool kInstalled = [] {
  PersistenceOperations& operations = InstalledPersistenceOperations();
  operations.writeToRegistry = &PortSettingsPersistence::WriteToRegistry;
  operations.writeToIniFile = &PortSettingsPersistence::WriteToIniFile;
  operations.readFromRegistry = &PortSettingsPersistence::ReadFromRegistry;
  operations.readFromIniFile = &PortSettingsPersistence::ReadFromIniFile;
  return true;
}();
}  // namespace

#include "serial/port/persistence_slots.h"

#include "serial/CPort.h"

PersistenceOperations& InstalledPersistenceOperations() {
  static PersistenceOperations operations;
  return operations;
}

namespace {

// A key or ini file exists only where the store does, so an empty slot means
// a program that stores without the store's operations: the store error.
template <typename Operation>
Operation Installed(Operation PersistenceOperations::*slot) {
  const Operation operation = InstalledPersistenceOperations().*slot;
  if (operation == nullptr) throw EComPort(kErrStore);
  return operation;
}

}  // namespace

void TCustomComPort::WriteSettingsToRegistry(TRegistryKey& key) {
  Installed(&PersistenceOperations::writeToRegistry)(*this, key);
}

void TCustomComPort::WriteSettingsToIniFile(TIniFile& ini) {
  Installed(&PersistenceOperations::writeToIniFile)(*this, ini);
}

void TCustomComPort::ReadSettingsFromRegistry(TRegistryKey& key) {
  Installed(&PersistenceOperations::readFromRegistry)(*this, key);
}

void TCustomComPort::ReadSettingsFromIniFile(TIniFile& ini) {
  Installed(&PersistenceOperations::readFromIniFile)(*this, ini);
}

#pragma once
// The port's four persistence operations are virtual, so every program with a
// port has their slots; their bodies belong to the settings store, which
// installs them here when it is part of the program. The port never links the
// store.

class TCustomComPort;
class TRegistryKey;
class TIniFile;

struct PersistenceOperations {
  void (*writeToRegistry)(TCustomComPort&, TRegistryKey&) = nullptr;
  void (*writeToIniFile)(TCustomComPort&, TIniFile&) = nullptr;
  void (*readFromRegistry)(TCustomComPort&, TRegistryKey&) = nullptr;
  void (*readFromIniFile)(TCustomComPort&, TIniFile&) = nullptr;
};

// The one table; filled before main by the store.
PersistenceOperations& InstalledPersistenceOperations();

#pragma once
// Drop-down lists bound to one setting of a port: TComComboBox, and the state
// behind it, TComSelect, which needs no widget.

#include <QComboBox>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "serial/CPort.h"

// Which setting a list shows; cpNone leaves it empty.
enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// The bound port, the setting, AutoApply and one pending value per kind of
// setting. The binding is dropped when the port is destroyed.
class TComSelect {
 public:
  TComSelect() = default;
  ~TComSelect();
  TComSelect(const TComSelect&) = delete;
  TComSelect& operator=(const TComSelect&) = delete;

  TComProperty ComProperty() const { return property_; }
  void SetComProperty(TComProperty value) { property_ = value; }
  TComPort* ComPort() const { return port_; }
  void SetComPort(TComPort* port);
  bool AutoApply() const { return autoApply_; }
  void SetAutoApply(bool value) { autoApply_ = value; }
  // Called after the bound port was destroyed and the binding cleared.
  void SetOnPortFreed(std::function<void()> handler) { onPortFreed_ = std::move(handler); }

  // The items of a list for a setting; the port list can raise EComPort 23.
  static std::vector<std::string> Items(TComProperty property);
  // The bound port's current value as an item text; nothing while unbound.
  std::optional<std::string> CurrentText() const;
  // The item's value becomes the pending value: the text itself for cpPort,
  // converted through the value-text table otherwise.
  void SetPending(const std::string& itemText);
  // The operator picked an item: SetPending, and with AutoApply ApplyPending.
  void Pick(const std::string& itemText);
  // Writes the pending value through the port's setter; unbound, nothing happens.
  void ApplyPending();

 private:
  TComProperty property_ = cpNone;
  TComPort* port_ = nullptr;
  int freeNotification_ = 0;
  bool autoApply_ = false;
  std::function<void()> onPortFreed_;
  // Pending values start empty or at the first value of their type.
  struct Pending {
    std::string port;
    TBaudRate baudRate = brCustom;
    TDataBits dataBits = dbFive;
    TStopBits stopBits = sbOneStopBit;
    TParityBits parity = prNone;
    TFlowControl flowControl = fcHardware;
  } pending_;
};

// A drop-down list (no typing) showing one setting of a bound port.
class TComComboBox : public QComboBox {
  Q_OBJECT

 public:
  explicit TComComboBox(QWidget* parent = nullptr);

  TComPort* ComPort() const { return select_.ComPort(); }
  void SetComPort(TComPort* port) { select_.SetComPort(port); }
  TComProperty ComProperty() const { return select_.ComProperty(); }
  // Fills the items for the setting and selects the first; the port list can
  // raise EComPort 23, leaving the list as it was.
  void SetComProperty(TComProperty value);
  bool AutoApply() const { return select_.AutoApply(); }
  void SetAutoApply(bool value) { select_.SetAutoApply(value); }

  // Selects the item equal to the port's current value (whole item, ignoring
  // letter case) and makes it the pending value; when no item matches, none
  // is selected and the pending value stays as it was.
  void ShowCurrentValue();
  void ApplyPendingValue() { select_.ApplyPending(); }

 private:
  TComSelect select_;
};

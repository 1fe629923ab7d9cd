#include "serial/CPortCtl.h"

#include "serial/port/port_list.h"
#include "serial/store/value_texts.h"

namespace {

template <typename E>
std::vector<std::string> TextsOf() {
  const auto texts = ValueTexts<E>();
  return {texts.begin(), texts.end()};
}

}  // namespace

TComSelect::~TComSelect() { SetComPort(nullptr); }

void TComSelect::SetComPort(TComPort* port) {
  if (port == port_) return;
  if (port_ != nullptr) port_->RemoveFreeNotification(freeNotification_);
  port_ = port;
  if (port_ == nullptr) return;
  // The port is going away: forget it without calling back into it.
  freeNotification_ = port_->AddFreeNotification([this] {
    port_ = nullptr;
    if (onPortFreed_) onPortFreed_();
  });
}

std::vector<std::string> TComSelect::Items(TComProperty property) {
  switch (property) {
    case cpNone:
      return {};
    case cpPort: {
      std::vector<std::string> names;
      ListSerialPorts(names);
      return names;
    }
    case cpBaudRate:
      return TextsOf<TBaudRate>();
    case cpDataBits:
      return TextsOf<TDataBits>();
    case cpStopBits:
      return TextsOf<TStopBits>();
    case cpParity:
      return TextsOf<TParityBits>();
    case cpFlowControl:
      return TextsOf<TFlowControl>();
  }
  return {};
}

std::optional<std::string> TComSelect::CurrentText() const {
  if (port_ == nullptr) return std::nullopt;
  switch (property_) {
    case cpNone:
      return std::nullopt;
    case cpPort:
      return port_->Port();
    case cpBaudRate:
      return ValueText(port_->BaudRate());
    case cpDataBits:
      return ValueText(port_->DataBits());
    case cpStopBits:
      return ValueText(port_->StopBits());
    case cpParity:
      return ValueText(port_->Parity().Bits());
    case cpFlowControl:
      return ValueText(port_->FlowControl().FlowControl());
  }
  return std::nullopt;
}

void TComSelect::SetPending(const std::string& itemText) {
  switch (property_) {
    case cpNone:
      break;
    case cpPort:
      pending_.port = itemText;
      break;
    case cpBaudRate:
      pending_.baudRate = ValueFromText<TBaudRate>(itemText);
      break;
    case cpDataBits:
      pending_.dataBits = ValueFromText<TDataBits>(itemText);
      break;
    case cpStopBits:
      pending_.stopBits = ValueFromText<TStopBits>(itemText);
      break;
    case cpParity:
      pending_.parity = ValueFromText<TParityBits>(itemText);
      break;
    case cpFlowControl:
      pending_.flowControl = ValueFromText<TFlowControl>(itemText);
      break;
  }
}

void TComSelect::Pick(const std::string& itemText) {
  SetPending(itemText);
  if (autoApply_) ApplyPending();
}

void TComSelect::ApplyPending() {
  if (port_ == nullptr) return;
  switch (property_) {
    case cpNone:
      break;
    case cpPort:
      port_->SetPort(pending_.port);
      break;
    case cpBaudRate:
      port_->SetBaudRate(pending_.baudRate);
      break;
    case cpDataBits:
      port_->SetDataBits(pending_.dataBits);
      break;
    case cpStopBits:
      port_->SetStopBits(pending_.stopBits);
      break;
    case cpParity:
      port_->Parity().SetBits(pending_.parity);
      break;
    case cpFlowControl:
      port_->FlowControl().SetFlowControl(pending_.flowControl);
      break;
  }
}

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent) {
  setEditable(false);
  select_.SetOnPortFreed([this] { setCurrentIndex(count() > 0 ? 0 : -1); });
  connect(this, &QComboBox::activated, this,
          [this](int index) { select_.Pick(itemText(index).toStdString()); });
}

void TComComboBox::SetComProperty(TComProperty value) {
  const std::vector<std::string> items = TComSelect::Items(value);
  select_.SetComProperty(value);
  clear();
  for (const std::string& item : items) addItem(QString::fromStdString(item));
  setCurrentIndex(count() > 0 ? 0 : -1);
}

void TComComboBox::ShowCurrentValue() {
  const std::optional<std::string> current = select_.CurrentText();
  if (!current) return;
  const int index = findText(QString::fromStdString(*current), Qt::MatchFixedString);
  setCurrentIndex(index);
  if (index >= 0) select_.SetPending(itemText(index).toStdString());
}

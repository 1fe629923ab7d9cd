#include "app/mask_edit.h"

#include <QKeyEvent>

namespace {

bool IsDigitPosition(QChar maskChar) { return maskChar == u'9'; }

bool IsAsciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// Keys that change the text; moving the cursor or copying leaves it as shown.
bool EditsText(const QKeyEvent& event) {
  if (event.matches(QKeySequence::Paste) || event.matches(QKeySequence::Cut)) return true;
  if (event.key() == Qt::Key_Backspace || event.key() == Qt::Key_Delete) return true;
  const QString typed = event.text();
  return !typed.isEmpty() && typed.front().isPrint();
}

}  // namespace

std::string MaskedFieldText(const QString& mask, const QString& shown) {
  std::string text;
  text.reserve(static_cast<size_t>(mask.size()));
  for (qsizetype i = 0; i < mask.size(); ++i) {
    if (!IsDigitPosition(mask[i])) {
      text += static_cast<char>(mask[i].toLatin1());
      continue;
    }
    const QChar c = i < shown.size() ? shown[i] : QChar(u' ');
    text += c == u'0' ? ' ' : static_cast<char>(c.toLatin1());
  }
  return text;
}

TMaskEdit::TMaskEdit(QWidget* parent) : QLineEdit(parent) {}

void TMaskEdit::SetEditMask(const QString& mask) {
  mask_ = mask;
  setInputMask(mask);
}

std::string TMaskEdit::Text() const { return MaskedFieldText(mask_, displayText()); }

void TMaskEdit::SetText(const std::string& text) {
  const QString shown = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  if (FitsMask(shown)) {
    setInputMask(mask_);
  } else {
    setInputMask(QString());
    setMaxLength(static_cast<int>(mask_.size()));
  }
  setText(shown);
}

bool TMaskEdit::FitsMask(const QString& text) const {
  if (text.size() != mask_.size()) return false;
  for (qsizetype i = 0; i < mask_.size(); ++i) {
    const bool fits = IsDigitPosition(mask_[i]) ? IsAsciiDigit(text[i]) || text[i] == u' '
                                                : text[i] == mask_[i];
    if (!fits) return false;
  }
  return true;
}

void TMaskEdit::RestoreMask() {
  const QString foreign = displayText();
  QString shown = mask_;
  for (qsizetype i = 0; i < mask_.size(); ++i) {
    if (!IsDigitPosition(mask_[i])) continue;
    shown[i] = i < foreign.size() && IsAsciiDigit(foreign[i]) ? foreign[i] : QChar(u' ');
  }
  const int cursor = cursorPosition();
  setInputMask(mask_);
  setText(shown);
  setCursorPosition(cursor);
}

void TMaskEdit::keyPressEvent(QKeyEvent* event) {
  if (inputMask().isEmpty() && !mask_.isEmpty() && EditsText(*event)) RestoreMask();
  QLineEdit::keyPressEvent(event);
}

#include "app/mask_edit.h"

#include <QValidator>

#include "protocol/sign_link.h"

namespace {

bool IsDigitPosition(QChar maskChar) { return maskChar == u'9'; }

bool IsAsciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }

bool IsDigitOrBlank(QChar c) { return IsAsciiDigit(c) || c == u' '; }

bool IsPrintableAscii(QChar c) { return c >= u' ' && c <= u'~'; }

}  // namespace

// The one gate every change passes, however the text came in. The widget's
// mask already keeps the literals and the length; this refuses anything at a
// digit position but an ASCII digit, a blank or a character of the read's
// text, and turns the read's characters into blanks once the field is
// edited.
class TMaskEdit::DigitPositions : public QValidator {
 public:
  explicit DigitPositions(TMaskEdit& field) : QValidator(&field), field_(field) {}

  State validate(QString& input, int& /*cursor*/) const override {
    const QString& mask = field_.mask_;
    const QString& readBack = field_.readBack_;
    if (input.size() != mask.size()) return Invalid;
    const bool edited = input != readBack;
    for (qsizetype i = 0; i < mask.size(); ++i) {
      if (!IsDigitPosition(mask[i]) || IsDigitOrBlank(input[i])) continue;
      // Where the widget's mask takes any character, a paste puts even the
      // point there; the read's own characters pass, to become blanks.
      if (!readBack.contains(input[i])) return Invalid;
      if (edited) input[i] = u' ';
    }
    return Acceptable;
  }

 private:
  TMaskEdit& field_;
};

std::string MaskedFieldText(const QString& mask, const QString& shown) {
  std::string text;
  text.reserve(static_cast<size_t>(mask.size()));
  for (qsizetype i = 0; i < mask.size(); ++i) {
    if (!IsDigitPosition(mask[i])) {
      text += static_cast<char>(mask[i].toLatin1());
      continue;
    }
    const QChar c = i < shown.size() ? shown[i] : QChar(u' ');
    text += c == u'0' || !IsPrintableAscii(c) ? ' ' : static_cast<char>(c.unicode());
  }
  return text;
}

TMaskEdit::TMaskEdit(QWidget* parent) : QLineEdit(parent) {
  setValidator(new DigitPositions(*this));
  connect(this, &QLineEdit::textChanged, this, &TMaskEdit::EndReadBackOnEdit);
}

void TMaskEdit::SetEditMask(const QString& mask) {
  mask_ = mask;
  readBack_.clear();
  setInputMask(WidgetMask({}));
}

std::string TMaskEdit::Text() const { return MaskedFieldText(mask_, displayText()); }

void TMaskEdit::SetText(const std::string& text) {
  const QString bytes = QString::fromStdString(sign_link::BytesAsText(text));
  // The mask's literals stay; a character the field cannot show is a blank.
  QString shown = mask_;
  for (qsizetype i = 0; i < mask_.size(); ++i) {
    if (!IsDigitPosition(mask_[i])) continue;
    shown[i] = i < bytes.size() && bytes[i].isPrint() ? bytes[i] : QChar(u' ');
  }
  readBack_.clear();
  setInputMask(WidgetMask(shown));
  readBack_ = shown;
  setText(shown);
}

QString TMaskEdit::WidgetMask(const QString& shown) const {
  QString mask;
  for (qsizetype i = 0; i < mask_.size(); ++i) {
    if (IsDigitPosition(mask_[i])) {
      mask += i >= shown.size() || IsDigitOrBlank(shown[i]) ? u'0' : u'x';
    } else {
      mask += u'\\';
      mask += mask_[i];
    }
  }
  return mask;
}

void TMaskEdit::EndReadBackOnEdit() {
  if (readBack_.isEmpty() || displayText() == readBack_) return;
  readBack_.clear();
  const int cursor = cursorPosition();
  setInputMask(WidgetMask({}));
  setCursorPosition(cursor);
}

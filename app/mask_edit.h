#pragma once
// A masked entry field: the operator types digits into the fixed positions of
// a mask such as "99.99" ("9" a digit position, anything else a literal).
// Text() gives the field as the sign's procedures read it; SetText() shows
// what a read brought back, also characters that could never be typed.
// Whatever way text enters (keys, paste, drop, input method), only ASCII
// digits reach the digit positions.

#include <QLineEdit>
#include <QString>
#include <string>

class TMaskEdit : public QLineEdit {
  Q_OBJECT
  Q_PROPERTY(QString editMask READ EditMask WRITE SetEditMask)

 public:
  explicit TMaskEdit(QWidget* parent = nullptr);

  const QString& EditMask() const { return mask_; }
  void SetEditMask(const QString& mask);

  // One ASCII byte per mask position: the literals of the mask, and at each
  // digit position what the field shows there, a blank when it is empty,
  // holds 0 or holds a character that is not printable ASCII.
  std::string Text() const;
  // Shows the bytes as they are, one character each, at the mask's digit
  // positions (a control character as a blank). The read's characters stay
  // until the operator edits the field, which from then on holds digits only.
  void SetText(const std::string& text);

 private:
  class DigitPositions;

  // The widget's own mask for what the field shows: a digit-or-blank
  // position wherever it shows one, an any-character position where it shows
  // a read's other character.
  QString WidgetMask(const QString& shown) const;
  // Called on every change: the first edit after a read ends the read's text.
  void EndReadBackOnEdit();

  QString mask_;
  // What SetText showed, until the operator's first edit; empty otherwise.
  QString readBack_;
};

// The field text the procedures obtain, from what the field shows.
std::string MaskedFieldText(const QString& mask, const QString& shown);

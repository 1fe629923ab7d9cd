#pragma once
// A masked entry field: the operator types digits into the fixed positions of
// a mask such as "99.99" ("9" a digit position, anything else a literal).
// Text() gives the field as the sign's procedures read it; SetText() shows
// what a read brought back, also characters that could never be typed.

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

  // One byte per mask position: the literals of the mask, and at each digit
  // position what the field shows there, a blank when it is empty or holds 0.
  std::string Text() const;
  // Shows the bytes as they are. A text that fits the mask keeps the field
  // masked; any other is shown unmasked until the operator edits it.
  void SetText(const std::string& text);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool FitsMask(const QString& text) const;
  // Back to masked editing; characters that are not digits become blanks.
  void RestoreMask();

  QString mask_;
};

// The field text the procedures obtain, from what the field shows.
std::string MaskedFieldText(const QString& mask, const QString& shown);

// The masked fields as the procedures read them: a price field always gives
// five characters with the point in the third place and blanks for empty or
// zero digits; the brightness field one digit or a blank; a read's text is
// shown as it came; only ASCII digits enter, by whatever way text comes in.
#include "app/mask_edit.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>

#include "tests/app/window_test_support.h"

namespace {

class MaskEditTest : public ::testing::Test {
 protected:
  MaskEditTest() { tarvo::test::TestApplication(); }

  // One key press per character, carrying the character as its text.
  static void Type(TMaskEdit& field, const QString& keys) {
    for (QChar c : keys) {
      const int key = c.isDigit() && c.unicode() < 0x80 ? Qt::Key_0 + (c.unicode() - u'0')
                                                        : static_cast<int>(c.toUpper().unicode());
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
      QApplication::sendEvent(&field, &press);
    }
  }
  static void Type(TMaskEdit& field, const char* keys) { Type(field, QString::fromUtf8(keys)); }

  static void Press(TMaskEdit& field, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(&field, &press);
  }

  static std::unique_ptr<TMaskEdit> Field(const char* mask) {
    auto field = std::make_unique<TMaskEdit>();
    field->SetEditMask(QString::fromLatin1(mask));
    return field;
  }

  static std::string Shown(const TMaskEdit& field) { return field.displayText().toStdString(); }
};

TEST_F(MaskEditTest, PriceFieldGivesBlanksForEmptyAndZeroDigits) {
  struct Case {
    std::string typed;
    std::string text;
  };
  for (const Case& c : {Case{"", "  .  "}, Case{"2005", "2 . 5"}, Case{"4050", "4 .5 "},
                        Case{"1234", "12.34"}, Case{"7", "7 .  "}, Case{"0000", "  .  "}}) {
    auto field = Field("99.99");
    Type(*field, c.typed.c_str());
    EXPECT_EQ(field->Text(), c.text) << "typed \"" << c.typed << "\"";
  }
}

TEST_F(MaskEditTest, BrightnessFieldGivesOneDigitOrABlank) {
  for (const auto& [typed, text] : std::vector<std::pair<std::string, std::string>>{
           {"", " "}, {"7", "7"}, {"0", " "}, {"93", "9"}}) {
    auto field = Field("9");
    Type(*field, typed.c_str());
    EXPECT_EQ(field->Text(), text) << "typed \"" << typed << "\"";
  }
}

TEST_F(MaskEditTest, ClearedDigitPositionShowsABlank) {
  struct Case {
    const char* mask;
    const char* typed;
    std::string shown;
  };
  for (const Case& c : {Case{"99.99", "1234", "12.3 "}, Case{"9", "7", " "}}) {
    auto field = Field(c.mask);
    Type(*field, c.typed);
    Press(*field, Qt::Key_Backspace);
    EXPECT_EQ(Shown(*field), c.shown) << c.mask;
  }
}

TEST_F(MaskEditTest, ReadBackTextIsShownAsItCame) {
  struct Case {
    std::string set;
    std::string text;  // as the procedures take it: only ASCII goes to the sign
  };
  auto field = Field("99.99");
  for (const Case& c : {Case{"20.05", "2 . 5"}, Case{" 2.34", " 2.34"}, Case{"12. 4", "12. 4"},
                        Case{"--.--", "--.--"}, Case{"\xB0\x31.\xFF\x7E", " 1. ~"}}) {
    field->SetText(c.set);
    EXPECT_EQ(field->displayText(), QString::fromLatin1(c.set.data(), 5)) << c.set;
    EXPECT_EQ(field->Text(), c.text) << c.set;
  }

  // Moving the cursor keeps them; typing returns to digits only.
  field->SetText("--.--");
  Press(*field, Qt::Key_Home);
  EXPECT_EQ(field->Text(), "--.--");
  Type(*field, "1");
  EXPECT_EQ(field->Text(), "1 .  ");
  Type(*field, "234");
  EXPECT_EQ(field->Text(), "12.34");
}

TEST_F(MaskEditTest, TypingOverAReadBackTextWorksAsOnAnyOther) {
  for (const std::string read : {"00.00", "--.--", " 2.34", "\xB0\x31.\xFF\x7E"}) {
    auto field = Field("99.99");
    field->SetText(read);
    Press(*field, Qt::Key_A, Qt::ControlModifier);
    Type(*field, "1234");
    EXPECT_EQ(Shown(*field), "12.34") << "over \"" << read << "\"";
  }
}

// Every way text can enter the field, each given the text to enter.
using EntryWay = void (*)(TMaskEdit&, const QString&);

void ByKeys(TMaskEdit& field, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(&field, &press);
  }
}
void ByPasteCommand(TMaskEdit& field, const QString& text) {
  QGuiApplication::clipboard()->setText(text);
  field.paste();
}
void ByPasteShortcut(TMaskEdit& field, const QString& text) {
  QGuiApplication::clipboard()->setText(text);
  QKeyEvent press(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier);
  QApplication::sendEvent(&field, &press);
}
void ByDrop(TMaskEdit& field, const QString& text) {
  QMimeData data;
  data.setText(text);
  // A drop is taken only by the widget that took the drag's entry.
  QDragEnterEvent enter(QPoint(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&field, &enter);
  QDropEvent drop(QPointF(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&field, &drop);
}
void ByInputMethod(TMaskEdit& field, const QString& text) {
  QInputMethodEvent commit;
  commit.setCommitString(text);
  QApplication::sendEvent(&field, &commit);
}

TEST_F(MaskEditTest, OnlyAsciiDigitsReachTheDigitPositionsByAnyWay) {
  const std::vector<std::pair<const char*, EntryWay>> ways = {{"keys", ByKeys},
                                                              {"paste", ByPasteCommand},
                                                              {"Ctrl+V", ByPasteShortcut},
                                                              {"drop", ByDrop},
                                                              {"input method", ByInputMethod}};
  // Letters, Cyrillic, digits of other scripts, a sign, fullwidth digits.
  const std::vector<const char*> foreign = {"ab", "ДТ.ДТ", "١٢.٣٤", "-5", "１２"};
  for (const auto& [way, enter] : ways) {
    for (const std::string read : {"", "--.--"}) {
      for (const char* text : foreign) {
        auto field = Field("99.99");
        if (!read.empty()) field->SetText(read);
        field->selectAll();
        enter(*field, QString::fromUtf8(text));
        const QString shown = field->displayText();
        for (qsizetype i : {0, 1, 3, 4}) {
          const QChar c = shown[i];
          const bool keptRead = !read.empty() && c == QChar(read[static_cast<size_t>(i)]);
          EXPECT_TRUE((c >= u'0' && c <= u'9') || c == u' ' || keptRead)
              << way << " of \"" << text << "\" over \"" << read << "\" shows \""
              << shown.toStdString() << "\"";
        }
      }
    }
    // Digits do enter this way, with the point where it belongs, also over a read.
    for (const std::string read : {"", "--.--"}) {
      auto field = Field("99.99");
      if (!read.empty()) field->SetText(read);
      field->selectAll();
      enter(*field, QStringLiteral("1.5"));
      EXPECT_EQ(field->Text(), "1 .5 ") << way << " over \"" << read << "\"";
    }
  }
}

}  // namespace

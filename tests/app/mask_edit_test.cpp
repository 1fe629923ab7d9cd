// The masked fields as the procedures read them: a price field always gives
// five characters with the point in the third place and blanks for empty or
// zero digits; the brightness field one digit or a blank; a read's text is
// shown as it came.
#include "app/mask_edit.h"

#include <gtest/gtest.h>

#include <QKeyEvent>

#include "tests/app/window_test_support.h"

namespace {

class MaskEditTest : public ::testing::Test {
 protected:
  MaskEditTest() { tarvo::test::TestApplication(); }

  static void Type(TMaskEdit& field, const std::string& keys) {
    for (char c : keys) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_0 + (c - '0'), Qt::NoModifier, QString(QChar(c)));
      QApplication::sendEvent(&field, &press);
    }
  }

  static void Press(TMaskEdit& field, Qt::Key key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(&field, &press);
  }

  static std::unique_ptr<TMaskEdit> Field(const char* mask) {
    auto field = std::make_unique<TMaskEdit>();
    field->SetEditMask(QString::fromLatin1(mask));
    return field;
  }
};

TEST_F(MaskEditTest, PriceFieldGivesBlanksForEmptyAndZeroDigits) {
  struct Case {
    std::string typed;
    std::string text;
  };
  for (const Case& c : {Case{"", "  .  "}, Case{"2005", "2 . 5"}, Case{"4050", "4 .5 "},
                        Case{"1234", "12.34"}, Case{"7", "7 .  "}, Case{"0000", "  .  "}}) {
    auto field = Field("99.99");
    Type(*field, c.typed);
    EXPECT_EQ(field->Text(), c.text) << "typed \"" << c.typed << "\"";
  }
}

TEST_F(MaskEditTest, BrightnessFieldGivesOneDigitOrABlank) {
  for (const auto& [typed, text] : std::vector<std::pair<std::string, std::string>>{
           {"", " "}, {"7", "7"}, {"0", " "}, {"93", "9"}}) {
    auto field = Field("9");
    Type(*field, typed);
    EXPECT_EQ(field->Text(), text) << "typed \"" << typed << "\"";
  }
}

TEST_F(MaskEditTest, ReadBackTextIsShownAsItCame) {
  auto field = Field("99.99");
  field->SetText("20.05");
  EXPECT_EQ(field->displayText().toStdString(), "20.05");
  EXPECT_EQ(field->Text(), "2 . 5");

  // Characters no operator could type: shown, and given back byte for byte.
  for (const std::string text : {"--.--", "\xB0\x31.\xFF\x7E"}) {
    field->SetText(text);
    EXPECT_EQ(field->Text(), text);
  }
  field->SetText("--.--");
  EXPECT_EQ(field->displayText().toStdString(), "--.--");

  // Moving the cursor keeps them; typing returns to digits only.
  Press(*field, Qt::Key_Home);
  EXPECT_EQ(field->Text(), "--.--");
  Type(*field, "1");
  EXPECT_EQ(field->Text(), "1 .  ");
  Type(*field, "234");
  EXPECT_EQ(field->Text(), "12.34");
}

}  // namespace

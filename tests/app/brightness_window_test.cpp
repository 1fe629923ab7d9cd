// The brightness buttons through the window against a simulated sign: the
// level taken from the one-digit field, what the sign receives, and the
// message box that tells the outcome.
#include <gtest/gtest.h>

#include "sim/brightness.h"
#include "tests/app/sign_window_fixture.h"
#include "tests/support/wait_for.h"

namespace {

using tarvo::test::Control;
using tarvo::test::SignWindowTest;
using tarvo::test::WaitFor;
using Texts = std::vector<std::string>;

const std::string kNotSet = "Яркость не установлена.";
const std::string kAutomaticSet = "Установлена автоматическая яркость.";

class BrightnessWindowTest : public SignWindowTest {
 protected:
  void SetLevel(const std::string& text) { Control<TMaskEdit>(*form_, "MaskEdit7").SetText(text); }
  // Clicks and returns the one message the command showed.
  std::string Press(const char* button) {
    boxes_.Clear();
    Click(button);
    EXPECT_EQ(boxes_.Shown().size(), 1u) << button;
    if (boxes_.Shown().empty()) return {};
    EXPECT_EQ(boxes_.Shown()[0].caption, "TARVO - управление стелой Z408");
    return boxes_.Shown()[0].text;
  }
};

TEST_F(BrightnessWindowTest, ManualLevelComesFromTheFieldAndAnEmptyFieldIsZero) {
  EXPECT_EQ(Press("Button6"), "Установлена ручная яркость: 0");
  EXPECT_EQ(sign_.Brightness(), 0);

  SetLevel("7");
  EXPECT_EQ(Press("Button6"), "Установлена ручная яркость: 7");
  EXPECT_EQ(sign_.Brightness(), 7);
  EXPECT_EQ(sign_.Received(), (Texts{"LM0", "LM7"}));
  EXPECT_EQ(Control<TMaskEdit>(*form_, "MaskEdit7").Text(), "7") << "the field keeps the level";
}

TEST_F(BrightnessWindowTest, EchoOfAnotherDigitIsNotSet) {
  sign_.UpdateFaults([](sign_sim::SignFaults& f) { f.wrongBrightnessEcho = true; });
  SetLevel("7");
  EXPECT_EQ(Press("Button6"), kNotSet);
  EXPECT_EQ(Press("Button5"), kNotSet);
}

TEST_F(BrightnessWindowTest, ExtraBytesAfterTheEchoDoNotSpoilThisOrTheNextCommand) {
  sign_.UpdateFaults([](sign_sim::SignFaults& f) { f.extraAfterAnswer = "LM9"; });
  EXPECT_EQ(Press("Button5"), kAutomaticSet);
  EXPECT_EQ(sign_.Brightness(), sign_sim::kBrightnessAutomatic);
  SetLevel("3");
  EXPECT_EQ(Press("Button6"), "Установлена ручная яркость: 3");
}

TEST_F(BrightnessWindowTest, SilentSignAfterASuccessIsNotSet) {
  SetLevel("5");
  ASSERT_EQ(Press("Button5"), kAutomaticSet);
  ASSERT_EQ(Press("Button6"), "Установлена ручная яркость: 5");
  sign_.UpdateFaults([](sign_sim::SignFaults& f) { f.silent = true; });

  EXPECT_EQ(Press("Button5"), kNotSet);
  EXPECT_EQ(Press("Button6"), kNotSet);
  EXPECT_TRUE(WaitFor([&] { return sign_.ReceivedCount() == 4; }));
  EXPECT_EQ(sign_.Received(), (Texts{"LA", "LM5", "LA", "LM5"}));
}

}  // namespace

// Translation through the "cport" text domain: a catalogue beside the program
// changes the error texts and the dialog's own words, never the list items;
// without one every text stays as written.
//
// glibc ignores LANGUAGE while the messages locale is "C", and this machine
// has no other locale than C and C.UTF-8. With LANG=C.UTF-8 (and LC_ALL,
// LC_MESSAGES unset) the locale is not "C", so LANGUAGE=xx picks the catalogue
// locale/xx/LC_MESSAGES/cport.mo; that works wherever glibc does.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "serial/CPortSetup.h"
#include "serial/setup_dialog/translation.h"
#include "tests/serial/setup_dialog/setup_dialog_driver.h"
#include "tests/support/hermetic_env.h"

namespace {

using tarvo::test::EnsureApplication;
using tarvo::test::HermeticEnv;

constexpr const char kCatalogue[] = R"po(msgid ""
msgstr "Content-Type: text/plain; charset=UTF-8\n"

msgid "Setup"
msgstr "Настройка"

msgid " Settings "
msgstr " Параметры "

msgid "Port"
msgstr "Порт"

msgid "Cancel"
msgstr "Отмена"

msgid "None"
msgstr "Нет"

msgid "Registry error"
msgstr "Ошибка реестра"

msgid " (win error code: %d)"
msgstr " (код ошибки: %d)"
)po";

// The environment of one language choice, restored afterwards.
class TranslationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    for (const char* name : {"LANG", "LANGUAGE", "LC_ALL", "LC_MESSAGES"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    setenv("LANG", "C.UTF-8", 1);
    setenv("LANGUAGE", "xx", 1);
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

  // Compiles the catalogue into <folder>/locale/xx/LC_MESSAGES/cport.mo.
  static void InstallCatalogue(const std::string& folder) {
    const std::string messages = folder + "/locale/xx/LC_MESSAGES";
    std::filesystem::create_directories(messages);
    std::ofstream(folder + "/cport.po") << kCatalogue;
    const std::string command = "msgfmt -o '" + messages + "/cport.mo' '" + folder + "/cport.po'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(TranslationTest, CatalogueBesideTheProgramTranslatesErrorsAndDialogWordsNotListItems) {
  HermeticEnv env;
  InstallCatalogue(env.ConfigDir());
  InitTranslation(env.ConfigDir());

  EXPECT_STREQ(EComPort(kErrRegistry, 2).what(), "Ошибка реестра (код ошибки: 2)");
  EXPECT_STREQ(EComPort(kErrStore).what(), "Failed to store settings") << "not in the catalogue";

  env.Publish("COM1", "/dev/null");
  TComSetupFrm dialog;
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Настройка");
  EXPECT_EQ(dialog.findChild<QGroupBox*>("GroupBox1")->title().toStdString(), " Параметры ");
  EXPECT_EQ(dialog.findChild<QLabel*>("Label1")->text().toStdString(), "Порт");
  EXPECT_EQ(dialog.findChild<QPushButton*>("Button2")->text().toStdString(), "Отмена");
  EXPECT_EQ(dialog.Combos()[4]->itemText(0).toStdString(), "None");
  EXPECT_EQ(dialog.Combos()[5]->itemText(2).toStdString(), "None");
}

TEST_F(TranslationTest, WithoutACatalogueEveryTextStaysAsWritten) {
  HermeticEnv env;
  InitTranslation(env.ConfigDir());

  EXPECT_STREQ(EComPort(kErrRegistry, 2).what(), "Registry error (win error code: 2)");
  env.Publish("COM1", "/dev/null");
  TComSetupFrm dialog;
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Setup");
  EXPECT_EQ(dialog.findChild<QLabel*>("Label1")->text().toStdString(), "Port");
}

}  // namespace

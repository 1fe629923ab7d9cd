// Translation through the "cport" text domain: a catalogue beside the program
// changes the error texts and the dialog's own words, never the list items;
// without one every text stays as written. Each language's catalogue comes from
// beside the program when it is there, else from the installed tree.
//
// glibc ignores LANGUAGE while the messages locale is "C", and this machine
// has no other locale than C and C.UTF-8. With LANG=C.UTF-8 (and LC_ALL,
// LC_MESSAGES unset) the locale is not "C", so LANGUAGE=xx picks the catalogue
// locale/xx/LC_MESSAGES/cport.mo; that works wherever glibc does.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

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

  // Compiles a catalogue into <localeFolder>/<language>/LC_MESSAGES/cport.mo.
  static void InstallCatalogue(const std::string& localeFolder, const std::string& language = "xx",
                               const std::string& catalogue = kCatalogue) {
    const std::string messages = localeFolder + "/" + language + "/LC_MESSAGES";
    std::filesystem::create_directories(messages);
    std::ofstream(messages + "/cport.po") << catalogue;
    const std::string command = "msgfmt -o '" + messages + "/cport.mo' '" + messages + "/cport.po'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(TranslationTest, CatalogueBesideTheProgramTranslatesErrorsAndDialogWordsNotListItems) {
  HermeticEnv env;
  InstallCatalogue(env.ConfigDir() + "/locale");
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

// The platform number goes into the translated suffix at its one "%d"; a
// translation of another shape, as a careless or broken catalogue may hold,
// must not misread the number, so the original suffix stands in for it.
struct SuffixCase {
  const char* name;
  const char* translation;
  const char* expected;
};

void PrintTo(const SuffixCase& suffix, std::ostream* out) { *out << suffix.name; }

class SuffixTranslationTest : public TranslationTest,
                              public ::testing::WithParamInterface<SuffixCase> {};

TEST_P(SuffixTranslationTest, PutsTheNumberOnlyIntoASuffixThatTakesOneNumber) {
  HermeticEnv env;
  InstallCatalogue(env.ConfigDir() + "/locale", "xx",
                   std::string("msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n"
                               "msgid \" (win error code: %d)\"\nmsgstr \"") +
                       GetParam().translation + "\"\n");
  InitTranslation(env.ConfigDir());

  EXPECT_EQ(EComPort(kErrRegistry, 2).what(), std::string("Registry error") + GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogues, SuffixTranslationTest,
    ::testing::Values(
        SuffixCase{"TextInsteadOfANumber", " (%s)", " (win error code: 2)"},
        SuffixCase{"TwoNumbers", " (%d/%d)", " (win error code: 2)"},
        SuffixCase{"NoNumber", " (ошибка)", " (win error code: 2)"},
        SuffixCase{"PercentSign", " (100%% код %d)", " (100% код 2)"},
        SuffixCase{"LongerThanAnyBuffer",
                   " (код ошибки операционной системы, под которым она сообщила о сбое: %d)",
                   " (код ошибки операционной системы, под которым она сообщила о сбое: 2)"}),
    [](const ::testing::TestParamInfo<SuffixCase>& suffix) { return suffix.param.name; });

// Where each language's catalogue is found: the program's folder is <root>/bin,
// its own catalogues are in <root>/bin/locale, the installed ones in
// <root>/share/locale. Each catalogue translates "Registry error" into the
// folder and language it came from.
struct LookupCase {
  const char* name;
  const char* languages;  // LANGUAGE
  std::vector<std::string> beside;
  std::vector<std::string> installed;
  const char* expected;
};

void PrintTo(const LookupCase& lookup, std::ostream* out) { *out << lookup.name; }

class CatalogueLookupTest : public TranslationTest,
                            public ::testing::WithParamInterface<LookupCase> {};

TEST_P(CatalogueLookupTest, TakesEachLanguageFromBesideTheProgramElseFromTheInstalledTree) {
  HermeticEnv env;
  const std::string root = env.ConfigDir();
  // "xx-truncated" is xx's catalogue cut short inside its header,
  // "xx-outside" one whose translations point past the end of the file.
  const auto install = [](const std::string& folder, const std::string& where,
                          const std::string& name) {
    const std::string language = name.substr(0, name.find('-'));
    InstallCatalogue(folder, language,
                     "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n"
                     "msgid \"Registry error\"\nmsgstr \"" +
                         where + " " + language + "\"\n");
    const std::string file = folder + "/" + language + "/LC_MESSAGES/cport.mo";
    if (name.ends_with("-truncated")) std::filesystem::resize_file(file, 20);
    if (name.ends_with("-outside")) {
      std::fstream mo(file, std::ios::in | std::ios::out | std::ios::binary);
      std::uint32_t count = 0, translations = 0;
      mo.seekg(8).read(reinterpret_cast<char*>(&count), 4);
      mo.seekg(16).read(reinterpret_cast<char*>(&translations), 4);
      const std::uint32_t outside = 0x7ffffff0;
      for (std::uint32_t i = 0; i < count; ++i) {
        mo.seekp(translations + 8 * i + 4).write(reinterpret_cast<const char*>(&outside), 4);
      }
    }
  };
  for (const std::string& language : GetParam().beside)
    install(root + "/bin/locale", "beside", language);
  for (const std::string& language : GetParam().installed) {
    install(root + "/share/locale", "installed", language);
  }
  std::filesystem::create_directories(root + "/bin");
  setenv("LANGUAGE", GetParam().languages, 1);

  InitTranslation(root + "/bin");

  EXPECT_STREQ(EComPort(kErrRegistry).what(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, CatalogueLookupTest,
    ::testing::Values(
        LookupCase{"OnlyInstalledHoldsTheLanguage", "xx", {"aa"}, {"xx"}, "installed xx"},
        LookupCase{"BesideWinsForTheSameLanguage", "xx", {"xx"}, {"xx"}, "beside xx"},
        LookupCase{
            "FirstLanguageOfTheListWithACatalogueWins", "aa:xx", {"xx"}, {"aa"}, "installed aa"},
        LookupCase{
            "RegionAndCodesetFallBackToTheLanguage", "xx_YY.UTF-8", {"aa"}, {"xx"}, "installed xx"},
        LookupCase{
            "TruncatedCatalogueBesideIsPassedOver", "xx", {"xx-truncated"}, {"xx"}, "installed xx"},
        LookupCase{"CatalogueBesidePointingOutsideItselfIsPassedOver",
                   "xx",
                   {"xx-outside"},
                   {"xx"},
                   "installed xx"},
        LookupCase{
            "NoCatalogueForTheLanguageKeepsTheText", "xx", {"aa"}, {"aa"}, "Registry error"}),
    [](const ::testing::TestParamInfo<LookupCase>& lookup) { return lookup.param.name; });

}  // namespace

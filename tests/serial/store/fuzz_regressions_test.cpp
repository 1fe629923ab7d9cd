// Inputs that fuzzing found mishandled, kept so the faults stay fixed.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "serial/store/ini_file.h"
#include "tests/support/hermetic_env.h"

namespace {

using tarvo::test::HermeticEnv;

// A value whose line the file would read back as a comment was accepted and
// then lost: the write must be refused instead, and other names still work.
TEST(IniFileWrite, NameThatWouldReadAsACommentIsRefused) {
  HermeticEnv env;
  const std::string file = env.ConfigDir() + "/port.ini";
  TIniFile ini(file, true);
  for (const std::string name : {"#Port", ";Port"}) {
    EXPECT_THROW(ini.WriteString("ComPort", name, "COM3"), SettingsStoreError)
        << "a value named " << name << " would read back as a comment";
  }
  ini.WriteString("ComPort", "Port#2", "COM3");
  ini.Flush();
  EXPECT_EQ(TIniFile(file, false).ReadString("ComPort", "Port#2"),
            std::optional<std::string>("COM3"));
}

}  // namespace

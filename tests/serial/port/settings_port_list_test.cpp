// The system's serial ports as the setup dialog lists them.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "serial/CPort.h"
#include "serial/port/port_list.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/pty_pair.h"

namespace {

using tarvo::test::HermeticEnv;
using tarvo::test::PtyPair;

TEST(ListSerialPorts, ListsTheFoldersComEntriesSortedAsTextIgnoringCase) {
  HermeticEnv env;
  PtyPair line;
  for (const char* name : {"COM2", "COM10", "COM1", "COM0", "COMx", "com3", "ttyS0", "COM4.bak"}) {
    env.Publish(name, line.TerminalPath());
  }
  std::vector<std::string> list{"stale"};
  ListSerialPorts(list);
  EXPECT_EQ(list, (std::vector<std::string>{"COM1", "COM10", "COM2"}));
}

TEST(ListSerialPorts, AnUnreadableFolderRaises23WithErrnoAndKeepsTheList) {
  HermeticEnv env;
  std::filesystem::remove_all(env.ComDir());
  std::vector<std::string> list{"COM1"};
  try {
    ListSerialPorts(list);
    FAIL() << "expected EComPort 23 for a missing port folder";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), kErrRegistry);
    EXPECT_EQ(e.SystemError(), ENOENT);
    EXPECT_EQ(std::string(e.what()),
              "Registry error (win error code: " + std::to_string(ENOENT) + ")");
  }
  EXPECT_EQ(list, std::vector<std::string>{"COM1"});
}

}  // namespace

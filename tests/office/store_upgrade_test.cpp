// An office.db made before pushes recorded cancels and brightness: the
// store opened on it gains their columns, keeps the pushes it had, and
// records new ones whole.
#include <gtest/gtest.h>

#include "office/office_store.h"
#include "office/sqlite_statement.h"
#include "tests/support/hermetic_env.h"

namespace {

TEST(OfficeStoreUpgrade, AnEarlierDatabaseGainsTheNewColumnsAndKeepsItsPushes) {
  tarvo::test::HermeticEnv env;
  const std::string path = env.Root() + "/office.db";
  {
    office::Database earlier(path);
    earlier.Execute(
        "CREATE TABLE pushes (change_id TEXT PRIMARY KEY, issuer TEXT NOT NULL, created_ms INTEGER "
        "NOT NULL, effective_ms INTEGER, panels TEXT NOT NULL, target TEXT NOT NULL);"
        "INSERT INTO pushes VALUES ('old', 'anna', 1, NULL, '[]', '{\"stations\": [\"north-1\"]}');");
  }
  office::OfficeStore store(path);
  office::PushRecord cancel;
  cancel.changeId = "new";
  cancel.issuer = "anna";
  cancel.created = 2;
  cancel.panels = nlohmann::json::array();
  cancel.target = {{"stations", {"north-1"}}};
  cancel.cancels = "old";
  cancel.brightness = "7";
  store.AddPush(cancel);
  const std::optional<office::PushRecord> old = store.Push("old");
  ASSERT_TRUE(old);
  EXPECT_EQ(old->cancelledBy, std::vector<std::string>{"new"});
  EXPECT_EQ(store.Push("new")->cancels, "old");
  EXPECT_EQ(store.Push("new")->brightness, "7");
}

}  // namespace

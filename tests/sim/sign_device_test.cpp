// How the sign takes messages out of the byte stream, without a line: pieces
// joined, a held start given up on.
#include "sim/sign_device.h"

#include <gtest/gtest.h>

namespace sign_sim {
namespace {

TEST(SignDevice, JoinsAMessageThatArrivesInPieces) {
  SignDevice device;
  EXPECT_TRUE(device.Receive("W8456").empty());
  EXPECT_TRUE(device.HoldsPartial());
  const std::vector<Exchange> taken = device.Receive("030E2EL");
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].received, "W8456030E2E");
  EXPECT_EQ(taken[0].answer, "WOK2E");
  EXPECT_TRUE(device.HoldsPartial()) << "the \"L\" may start a brightness command";
  ASSERT_EQ(device.Receive("M5").size(), 1u);
  EXPECT_EQ(device.Brightness(), 5);
}

TEST(SignDevice, GivingUpOnAHeldStartDropsOneByteAndTakesTheRestAgain) {
  SignDevice device;
  EXPECT_TRUE(device.Receive("WR0").empty()) << "a frame's \"E\" comes only at offset 8";
  std::vector<Exchange> taken = device.DropStaleByte();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].received, "W");
  EXPECT_TRUE(device.HoldsPartial()) << "\"R0\" may still become R0E";
  taken = device.Receive("E");
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].answer, "T0----0000OK60");

  EXPECT_TRUE(device.Receive("W01").empty());
  taken = device.DropStaleByte();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].received, "W01") << "the dropped bytes make one run";
  EXPECT_TRUE(taken[0].answer.empty());
  EXPECT_FALSE(device.HoldsPartial());
}

}  // namespace
}  // namespace sign_sim

// Failed logins lock a name out for a while: the fifth failure within ten
// minutes refuses it until the oldest of them is ten minutes old; other
// names and a success in time are not touched.
#include "office/login_throttle.h"

#include <gtest/gtest.h>

namespace {

using office::LoginThrottle;
using namespace std::chrono_literals;

TEST(LoginThrottle, FiveFailuresWithinTheWindowLockTheNameUntilTheOldestAgesOut) {
  LoginThrottle throttle;
  const auto start = LoginThrottle::Clock::now();
  for (int i = 0; i < 4; ++i) {
    throttle.Failed("anna", start + i * 1min);
    EXPECT_EQ(throttle.Wait("anna", start + i * 1min), 0s);
  }
  throttle.Failed("anna", start + 4min);
  EXPECT_EQ(throttle.Wait("anna", start + 4min), 6min);
  EXPECT_EQ(throttle.Wait("victor", start + 4min), 0s);
  EXPECT_EQ(throttle.Wait("anna", start + 10min), 0s);
  // One more failure then: the four still in the window and it lock again.
  throttle.Failed("anna", start + 10min);
  EXPECT_EQ(throttle.Wait("anna", start + 10min), 1min);
  throttle.Succeeded("anna");
  EXPECT_EQ(throttle.Wait("anna", start + 10min), 0s);
  // Failures spread wider than the window never lock.
  for (int i = 0; i < 10; ++i) throttle.Failed("victor", start + i * 3min);
  EXPECT_EQ(throttle.Wait("victor", start + 27min), 0s);
}

}  // namespace

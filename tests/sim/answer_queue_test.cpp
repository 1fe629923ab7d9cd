// When the queued answers fall due, on a clock of the test's own choosing.
#include "sim/answer_queue.h"

#include <gtest/gtest.h>

namespace sign_sim {
namespace {

using Clock = AnswerQueue::Clock;

// A machine that has just started: its steady clock reads little more than zero.
TEST(AnswerQueue, TheFirstAnswerIsDueAtItsStartHoweverLongTheMachineHasRun) {
  const Clock::time_point justAfterBoot = Clock::time_point(std::chrono::milliseconds(3));
  const Clock::duration gap = std::chrono::seconds(5);
  AnswerQueue queue;
  queue.Add("T0", justAfterBoot, gap);
  EXPECT_EQ(queue.NextDue(), justAfterBoot);

  queue.Clear();
  queue.Add("WOK", justAfterBoot, gap);
  EXPECT_EQ(queue.NextDue(), justAfterBoot) << "after a cleared queue, as after none";
}

}  // namespace
}  // namespace sign_sim

// The port's own input queue: what a received byte becomes, and the events
// and line errors it raises.
#include "serial/port/input_queue.h"

#include <gtest/gtest.h>

#include <string>

#include "serial/port/event_word.h"

namespace {

using namespace std::string_literals;

InputQueue::Received Add(InputQueue& queue, const std::string& bytes) {
  return queue.Add(bytes.data(), bytes.size());
}

TEST(InputQueue, DiscardsNulBytesOnlyWhenAsked) {
  InputQueue queue;
  ReceiveRules rules;
  rules.discardNull = true;
  rules.eventChar = 'C';
  queue.SetRules(rules);
  EXPECT_EQ(Add(queue, "A\0B\0\0"s).flags, kFlagRxChar);
  EXPECT_EQ(queue.Size(), 2u);
  EXPECT_EQ(Add(queue, "\0"s).flags, 0u) << "a dropped NUL is no received byte";
  EXPECT_EQ(queue.Take(14), "AB");

  rules.discardNull = false;
  queue.SetRules(rules);
  Add(queue, "A\0B"s);
  EXPECT_EQ(queue.Take(14), "A\0B"s);
}

TEST(InputQueue, TakesFromTheFrontAndLeavesTheRest) {
  InputQueue queue;
  Add(queue, "12345");
  EXPECT_EQ(queue.Take(3), "123");
  EXPECT_EQ(queue.Size(), 2u);
  EXPECT_EQ(queue.Take(0), "");
  EXPECT_EQ(queue.Take(14), "45");
  EXPECT_EQ(queue.Take(14), "");
}

TEST(InputQueue, EventByteAndNearlyFullRaiseTheirEvents) {
  InputQueue queue(10);
  ReceiveRules rules;
  rules.eventChar = 'Z';
  queue.SetRules(rules);
  EXPECT_EQ(Add(queue, "abcdefg").flags, kFlagRxChar);
  EXPECT_EQ(Add(queue, "Z").flags, kFlagRxChar | kFlagRxFlag | kFlagRx80Full)
      << "the eighth of ten bytes fills 80 %";
  EXPECT_EQ(Add(queue, "h").flags, kFlagRxChar) << "80 % is reported once, when crossed";
}

TEST(InputQueue, OverflowDropsBytesAsALineError) {
  InputQueue queue(4);
  const InputQueue::Received received = Add(queue, "123456");
  EXPECT_EQ(received.errors, (TComErrors{ceRxOver}));
  EXPECT_EQ(queue.Take(14), "1234") << "the oldest bytes stay, the newest are dropped";
  EXPECT_TRUE(Add(queue, "5").errors.Empty());
}

TEST(InputQueue, MarkedBytesBecomeErrorsAndAreReplacedWhenAsked) {
  InputQueue queue;
  ReceiveRules rules;
  rules.marked = true;
  queue.SetRules(rules);
  // A real 0xFF, a byte with an error, a break, and a mark split over two reads.
  InputQueue::Received received = Add(queue,
                                      "a\xFF\xFF"
                                      "b\xFF\x00X\xFF"s);
  EXPECT_EQ(received.errors, (TComErrors{ceRxParity}));
  EXPECT_EQ(received.flags & kFlagError, kFlagError);
  received = Add(queue,
                 "\x00\x00"
                 "c"s);
  EXPECT_EQ(received.errors, (TComErrors{ceBreak}));
  EXPECT_EQ(received.flags & kFlagBreak, kFlagBreak);
  EXPECT_EQ(queue.Take(14),
            "a\xFF"
            "bX\0c"s)
      << "without replacement the byte stays";

  rules.replace = true;
  rules.replaceChar = '?';
  queue.SetRules(rules);
  Add(queue,
      "1\xFF\x00"
      "2"
      "3"s);
  EXPECT_EQ(queue.Take(14), "1?3");
}

TEST(InputQueue, UnmarkedLinePassesEveryByteAsItCame) {
  InputQueue queue;
  const InputQueue::Received received = Add(queue, "\xFF\x00X"s);
  EXPECT_TRUE(received.errors.Empty());
  EXPECT_EQ(queue.Take(14), "\xFF\x00X"s);
}

}  // namespace

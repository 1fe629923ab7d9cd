#pragma once
// One randomized sequence against a real tarvo-agent process and a simulated
// sign, drawn from a seed: writes now and at a time (past, now, the same
// second, soon), cancels, concurrent clients, writes by another program,
// reads, kill -9 and restart, a full disk, the port held by another program,
// a slow sign and a sign answering for another panel. AgentModel says what
// must hold; the same seed replays the same sequence.

#include <cstdint>
#include <string>
#include <vector>

namespace tarvo::test {

struct RandomRun {
  uint64_t seed = 0;
  std::vector<std::string> steps;  // the sequence, as run
  int faults = 0;                  // faults injected
  std::vector<std::string> violations;

  // "seed N: step; step; ...", and each violation: what a failing seed prints.
  std::string Replay() const;
};

RandomRun RunRandomSequence(uint64_t seed, int steps);

}  // namespace tarvo::test

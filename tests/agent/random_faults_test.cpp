// The randomized fault run, a few seeds (TARVO_MODEL_SEEDS of them, from
// TARVO_MODEL_SEED): a failing seed prints its sequence, and setting
// TARVO_MODEL_SEED to it replays it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/agent/random_run.h"

namespace {

uint64_t FromEnvironment(const char* name, uint64_t fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::strtoull(value, nullptr, 10) : fallback;
}

TEST(AgentRandomFaults, EverySeedKeepsTheModel) {
  const uint64_t first = FromEnvironment("TARVO_MODEL_SEED", 20261209);
  const uint64_t seeds = FromEnvironment("TARVO_MODEL_SEEDS", 3);
  for (uint64_t seed = first; seed < first + seeds; ++seed) {
    const tarvo::test::RandomRun run = tarvo::test::RunRandomSequence(seed, 14);
    EXPECT_TRUE(run.violations.empty()) << run.Replay();
  }
}

}  // namespace

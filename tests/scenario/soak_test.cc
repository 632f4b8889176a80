// Shorter soak runs: random link flaps, hot-plugged adapters and faults that must not change
// the traps; the traps written must be exactly those the timeline owes, and the agent must
// hold the same memory from one sample to the next.
#include <gtest/gtest.h>

#include "soak_run.h"

namespace {

std::string Describe(const std::vector<soak::SoakTrap>& traps) {
  std::string text;
  for (const auto& t : traps) {
    text += std::to_string(t.cycle) + "/" + std::to_string(t.code) + "/" +
            std::to_string(t.linksUp) + " ";
  }
  return text;
}

// The second seed runs with two teams (one with VLAN team interfaces) and the platform
// inventory setting the starting ports' slots, so rebuilds from hot-plug must carry the
// members' and the inventoried ports' conditions.
TEST(SoakTest, TrapsOwedByFlapsHotPlugAndFaultsAreWrittenExactly) {
  for (uint32_t seed : {3u, 11u}) {
    soak::SoakOptions options;
    options.cycles = 1200;
    options.seed = seed;
    options.ports = 6;
    options.flapPerMille = 60;
    options.hotplugPerMille = 40;
    options.faultPerMille = 80;
    if (seed == 11) {
      options.teams = 2;
      options.vlansPerTeam = 2;
      options.inventory = true;
    }
    soak::SoakResult r = soak::RunSoak(options);
    EXPECT_GT(r.flaps, 100u);
    EXPECT_GT(r.hotAdds, 10u);
    EXPECT_GT(r.hotRemoves, 5u);
    EXPECT_EQ(Describe(r.expected), Describe(r.written)) << "seed " << seed;
    EXPECT_TRUE(r.treeWellFormed) << r.problem;
  }
}

TEST(SoakTest, AgentMemoryIsTheSameAtEverySampleWithAFixedSetOfAdapters) {
  soak::SoakOptions options;
  options.cycles = 2400;
  options.ports = 5;
  options.hotplugPerMille = 0;
  options.sampleEvery = 400;
  soak::SoakResult r = soak::RunSoak(options);
  ASSERT_EQ(r.samples.size(), 5u);
  for (const auto& s : r.samples) {
    EXPECT_EQ(r.samples.front().liveAllocations, s.liveAllocations) << "cycle " << s.cycle;
  }
  EXPECT_EQ(Describe(r.expected), Describe(r.written));
}

}  // namespace

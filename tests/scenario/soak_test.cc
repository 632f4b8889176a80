// Shorter soak runs: random link flaps, hot-plugged adapters and faults that must not change
// the traps; the traps written must be exactly those the timeline owes (less those the trap
// record limit removed, counted), and the agent must hold the same memory from one sample to
// the next.
#include <gtest/gtest.h>

#include <sstream>

#include "soak_run.h"

namespace {

std::string Describe(const std::vector<soak::SoakTrap>& traps) {
  std::ostringstream text;
  for (const auto& t : traps) text << t.cycle << "/" << t.code << "/" << t.linksUp << " ";
  return text.str();
}

// The second seed runs with two teams (one with VLAN team interfaces) and the platform
// inventory setting the starting ports' slots, so rebuilds from hot-plug must carry the
// members' and the inventoried ports' conditions.
TEST(SoakTest, TrapsOwedByFlapsHotPlugAndFaultsAreWrittenExactly) {
  for (uint32_t seed : {3u, 11u}) {
    soak::SoakResult r = soak::RunSoak({.cycles = 1200,
                                        .seed = seed,
                                        .ports = 6,
                                        .flapPerMille = 60,
                                        .hotplugPerMille = 40,
                                        .faultPerMille = 80,
                                        .teams = seed == 11 ? 2u : 0u,
                                        .vlansPerTeam = seed == 11 ? 2u : 0u,
                                        .inventory = seed == 11});
    EXPECT_GT(r.flaps, 100u);
    EXPECT_GT(r.hotAdds, 10u);
    EXPECT_GT(r.hotRemoves, 5u);
    EXPECT_EQ(Describe(r.expected), Describe(r.written)) << "seed " << seed;
    EXPECT_TRUE(r.treeWellFormed) << r.problem;
  }
}

// Nobody reads the trap records: the agent's limit removes the oldest of each kind, and what
// is left is the newest records the timeline owes, the rest counted as removed.
TEST(SoakTest, WithoutAReaderTheLimitKeepsTheNewestTrapsOfEachKind) {
  constexpr uint32_t kLimit = 16;
  soak::SoakResult r = soak::RunSoak({.cycles = 1200,
                                      .seed = 5,
                                      .ports = 6,
                                      .flapPerMille = 60,
                                      .hotplugPerMille = 20,
                                      .reader = false,
                                      .trapRecordLimit = kLimit});
  EXPECT_GT(r.removedByLimit, 50u);
  EXPECT_TRUE(soak::TrapsAccountedFor(r));
  for (uint32_t code : {11u, 12u}) {
    auto ofCode = [code](std::vector<soak::SoakTrap> traps) {
      std::erase_if(traps, [code](const soak::SoakTrap& t) { return t.code != code; });
      return traps;
    };
    std::vector<soak::SoakTrap> owed = ofCode(r.expected), written = ofCode(r.written);
    ASSERT_EQ(kLimit, written.size()) << "code " << code;
    EXPECT_EQ(Describe({owed.end() - kLimit, owed.end()}), Describe(written)) << "code " << code;
  }
  // A record lost without being counted is found.
  r.written.erase(r.written.begin() + 3);
  EXPECT_FALSE(soak::TrapsAccountedFor(r));
  EXPECT_TRUE(r.treeWellFormed) << r.problem;
}

TEST(SoakTest, AgentMemoryIsTheSameAtEverySampleWithAFixedSetOfAdapters) {
  soak::SoakResult r =
      soak::RunSoak({.cycles = 2400, .ports = 5, .hotplugPerMille = 0, .sampleEvery = 400});
  ASSERT_EQ(r.samples.size(), 5u);
  for (const auto& s : r.samples) {
    EXPECT_EQ(r.samples.front().liveAllocations, s.liveAllocations) << "cycle " << s.cycle;
  }
  EXPECT_EQ(Describe(r.expected), Describe(r.written));
}

}  // namespace

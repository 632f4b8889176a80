// ListIndex: candidates come back in filing order whatever the growth and the collisions,
// taken-out entries stay out, and refused storage leaves an unusable index and no trace. The
// start-up link table, one of its users, finds, replaces and removes by description alike
// through its index, without it, and after the index lost its storage.
#include "common/list_index.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "common/process_state.h"
#include "common/startup_link_table.h"
#include "support/sim_fixture.h"

namespace {

class ListIndexTest : public crvtest::SimTest {
 protected:
  ListIndexTest() { std::iota(values, values + 300, 0); }
  // The values filed under hash, in the order the index hands them back.
  std::vector<int> Under(uint64_t hash) {
    std::vector<int> out;
    for (uint32_t e = index.First(hash); e != crv::ListIndex::kNone; e = index.Next(e))
      out.push_back(*static_cast<int*>(index.Value(e)));
    return out;
  }

  int values[300];
  crv::ListIndex index;
};

TEST_F(ListIndexTest, CandidatesComeInFilingOrderThroughGrowthAndCollisions) {
  index.Start();
  ASSERT_TRUE(index.Usable());
  // Three keys interleaved, past several doublings of the first capacity.
  std::vector<int> expected[3];
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(index.Add(static_cast<uint64_t>(i % 3) * 0x9E3779B97F4A7C15ull, &values[i]));
    expected[i % 3].push_back(i);
  }
  for (int k = 0; k < 3; ++k) EXPECT_EQ(expected[k], Under(k * 0x9E3779B97F4A7C15ull));
  EXPECT_TRUE(Under(12345).empty());
  // The first candidate that passes the searcher's own test, as a walk of the list finds it.
  int* found = index.FindFirst<int>(0x9E3779B97F4A7C15ull, [](int v) { return v > 100; });
  ASSERT_NE(nullptr, found);
  EXPECT_EQ(103, *found);
}

TEST_F(ListIndexTest, TakenOutEntriesStayOutAfterGrowth) {
  index.Start();
  for (int i = 0; i < 10; ++i) index.Add(7, &values[i]);
  for (uint32_t entry : {0u, 5u, 9u}) index.Remove(entry);  // the chain's head, middle and tail
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 6, 7, 8}), Under(7));
  for (int i = 10; i < 40; ++i) index.Add(7, &values[i]);
  std::vector<int> after = Under(7);
  ASSERT_EQ(37u, after.size());
  EXPECT_EQ(10, after[7]);
  EXPECT_EQ(39, after.back());
}

TEST_F(ListIndexTest, RefusedStorageBreaksTheIndexQuietly) {
  uint64_t live = machine.LiveAllocations();
  index.Start();
  machine.platform().kernel->SetLastError(1234);
  machine.FailAllocation(1);
  EXPECT_FALSE(index.Add(1, &values[0]));
  EXPECT_FALSE(index.Usable());
  EXPECT_EQ(crv::ListIndex::kNone, index.First(1));
  EXPECT_EQ(1234u, machine.platform().kernel->GetLastError());
  EXPECT_TRUE(machine.Reports().empty());
  EXPECT_EQ(live, machine.LiveAllocations());
  // A later growth that is refused frees what was filed.
  index.Start();
  for (int i = 0; i < 16; ++i) index.Add(2, &values[i]);
  machine.FailAllocation(2);  // the buckets of the next size
  EXPECT_FALSE(index.Add(2, &values[16]));
  EXPECT_FALSE(index.Usable());
  EXPECT_EQ(live, machine.LiveAllocations());
}

TEST_F(ListIndexTest, SwitchedOffItIsNeverUsable) {
  crv::State().useListIndexes = false;
  uint64_t allocations = machine.AllocationCount();
  index.Start();
  EXPECT_FALSE(index.Usable());
  EXPECT_FALSE(index.Add(1, &values[0]));
  EXPECT_EQ(allocations, machine.AllocationCount());
}

class StartupLinkTableTest : public crvtest::SimTest, public ::testing::WithParamInterface<bool> {
 protected:
  StartupLinkTableTest() { crv::State().useListIndexes = GetParam(); }
  ~StartupLinkTableTest() override { table.Clear(); }

  uint8_t ConditionOf(const std::string& description) {
    uint8_t condition = 0;
    return table.Find(description.c_str(), &condition) ? condition : 0;
  }

  crv::StartupLinkTable table;
};

TEST_P(StartupLinkTableTest, FindsReplacesAndRemovesByDescription) {
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(table.Set(("port #" + std::to_string(i)).c_str(), static_cast<uint8_t>(i % 4 + 1)));
  }
  ASSERT_TRUE(table.Set("port #7", 2));  // replaced, not added
  EXPECT_EQ(40u, table.Count());
  EXPECT_EQ(2u, ConditionOf("port #7"));
  EXPECT_EQ(1u, ConditionOf("port #8"));
  EXPECT_EQ(0u, ConditionOf("port #40"));
  // Only the first 256 bytes of a description count.
  std::string longer(300, 'x');
  ASSERT_TRUE(table.Set(longer.c_str(), 4));
  EXPECT_EQ(4u, ConditionOf(std::string(256, 'x') + "different tail"));

  table.Remove(longer.c_str());  // the newest
  table.Remove("port #0");       // the oldest
  table.Remove("port #20");
  table.Remove("port #99");  // not there
  EXPECT_EQ(38u, table.Count());
  EXPECT_EQ(0u, ConditionOf("port #20"));
  EXPECT_EQ(0u, ConditionOf("port #0"));
  EXPECT_EQ(2u, ConditionOf("port #21"));
  ASSERT_TRUE(table.Set("port #20", 3));
  EXPECT_EQ(3u, ConditionOf("port #20"));
}

TEST_P(StartupLinkTableTest, AnIndexThatLostItsStorageIsFiledAgain) {
  for (int i = 0; i < 16; ++i) table.Set(("port #" + std::to_string(i)).c_str(), 2);
  machine.FailAllocation(2);  // the entry, then the index's next size
  ASSERT_TRUE(table.Set("port #16", 4));
  EXPECT_EQ(4u, ConditionOf("port #16"));
  EXPECT_EQ(2u, ConditionOf("port #3"));
  table.Remove("port #3");
  EXPECT_EQ(0u, ConditionOf("port #3"));
  EXPECT_EQ(16u, table.Count());
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutIndex, StartupLinkTableTest, ::testing::Bool());

}  // namespace

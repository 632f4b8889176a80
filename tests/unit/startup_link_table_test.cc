// The start-up link table finds, replaces and removes by description alike through its index,
// without it, and after the index lost its storage.
#include "common/startup_link_table.h"

#include <gtest/gtest.h>

#include <string>

#include "common/process_state.h"
#include "support/sim_fixture.h"

namespace {

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

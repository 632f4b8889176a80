// Port conditions carried across rebuilds, and the trap sink's failure paths.
#include <gtest/gtest.h>

#include "common/alloc.h"
#include "common/process_state.h"
#include "common/report.h"
#include "support/sim_fixture.h"
#include "trap/trap.h"

namespace {

constexpr crv::PortIdentity kPortA{3, 0xFFFF, 4, 0, 0};
constexpr crv::PortIdentity kPortB{3, 0xFFFF, 4, 0, 1};

class TrapTest : public crvtest::SimTest {
 protected:
  ~TrapTest() override { crv::DeleteObject(trap); }
  crv::CTrap* trap = crv::NewObject<crv::CTrap>();
};

TEST_F(TrapTest, ConditionsAreCarriedAcrossOneRebuild) {
  // Found through the index and, with indexes switched off, by walking the list.
  for (bool indexes : {true, false}) {
    SCOPED_TRACE(indexes);
    crv::State().useListIndexes = indexes;
    crv::DeleteObject(trap);
    trap = crv::NewObject<crv::CTrap>();
    EXPECT_EQ(1u, trap->CarryCondition(kPortA));
    EXPECT_EQ(1u, trap->CarryCondition(kPortB));
    trap->SetAdapterCondition(kPortA, 2);
    trap->SetAdapterCondition(kPortB, 4);

    trap->BeginGeneration();
    EXPECT_EQ(0u, trap->CurrentCount());
    EXPECT_EQ(2u, trap->PreviousCount());
    EXPECT_EQ(4u, trap->CarryCondition(kPortB));  // found and moved
    EXPECT_EQ(1u, trap->PreviousCount());
    EXPECT_EQ(1u, trap->CarryCondition(kPortB));  // already moved: a new record

    // A port absent from one rebuild stays in the previous generation only until the next.
    trap->BeginGeneration();
    EXPECT_EQ(2u, trap->PreviousCount());
    trap->BeginGeneration();
    EXPECT_EQ(1u, trap->CarryCondition(kPortA));
    EXPECT_TRUE(machine.Reports().empty()) << crvtest::DescribeReports(machine);
  }
}

TEST_F(TrapTest, AStoreWithoutARecordIsReported) {
  trap->CarryCondition(kPortA);
  crv::PortIdentity moved = kPortA;
  moved.slot = 5;  // the inventory changed the slot after the condition was carried
  moved.device = 2;
  trap->SetAdapterCondition(moved, 2);
  ASSERT_EQ(1u, machine.Reports().size());
  EXPECT_EQ(u"CTrap::SetAdapterCondition: failed to find adapter.", machine.Reports()[0].message);
  EXPECT_EQ(2u + 5u * 65536u, machine.Reports()[0].value);
}

TEST_F(TrapTest, AllocationFailuresGiveConditionOneAndLeakNothing) {
  machine.FailAllocation(1);  // the record
  EXPECT_EQ(1u, trap->CarryCondition(kPortA));
  machine.FailAllocation(2);  // the node, after the record
  EXPECT_EQ(1u, trap->CarryCondition(kPortA));
  EXPECT_EQ(0u, trap->CurrentCount());
  EXPECT_EQ((std::vector<std::string>{
                "CTrap::AllocateConditionNode: failure to allocate ADAPTERCONDITION",
                "CTrap::AllocateConditionNode: failure to allocate ADAPTERCONDITIONNODE"}),
            crvtest::ReportTexts(machine, crv::kReportInformation));
  EXPECT_EQ(2u, crvtest::ReportTexts(machine, crv::kReportAllocationFailed).size());
}

}  // namespace

// The configuration manager's lists read whole while devices arrive: a list that grew between
// its size call and its read is sized and read again, a bounded number of times.
#include <gtest/gtest.h>

#include <functional>

#include "common/alloc.h"
#include "common/report.h"
#include "discovery/device_lists.h"
#include "support/sim_fixture.h"

namespace {

using DeviceListsTest = crvtest::SimTest;
using ListRead = sim::SimDevices::ListRead;

TEST_F(DeviceListsTest, AListThatGrowsWhileReadIsReadAgainUpToItsBound) {
  crvtest::AddTestAdapter(machine, 7);
  for (uint32_t growths : {1u, crv::kDeviceListReadTries}) {
    SCOPED_TRACE(growths);
    // Each arrival comes during a read, after its size call, and sets up the next.
    uint32_t arrived = 0;
    std::function<void()> arrive = [&] {
      crvtest::AddTestAdapter(machine, static_cast<uint8_t>(8 + arrived + (growths - 1) * 8));
      if (++arrived < growths) machine.devices().ArriveDuringListRead(ListRead::kDeviceIds, arrive);
    };
    machine.devices().ArriveDuringListRead(ListRead::kDeviceIds, arrive);
    const uint64_t sized = machine.CallCount("CM_Get_Device_ID_List_SizeW");
    crv::DeviceList list = crv::ReadDeviceIdList(nullptr, 0);
    EXPECT_EQ(growths + (growths < crv::kDeviceListReadTries ? 1 : 0),
              machine.CallCount("CM_Get_Device_ID_List_SizeW") - sized);
    if (growths < crv::kDeviceListReadTries) {
      ASSERT_NE(nullptr, list.texts);
      EXPECT_EQ(platform::kCrSuccess, list.status);
      EXPECT_EQ(0, list.texts[list.chars - 1]);  // the whole list, with its final terminator
    } else {
      EXPECT_EQ(nullptr, list.texts);
      EXPECT_EQ(platform::kCrBufferSmall, list.status);
      EXPECT_TRUE(list.readFailed);
      EXPECT_EQ(std::vector<uint32_t>{platform::kCrBufferSmall},
                crvtest::ReportValues(machine, u"Device list: it kept growing while it was read"));
    }
    crv::FreeBlock(list.texts);
  }
}

}  // namespace

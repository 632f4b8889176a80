// The report sink keeps the thread's last error across its write. The simulated debugger
// output leaves a last error of its own behind, as Windows' may, so a sink that did not put
// the caller's back would change both the second report's value and the error read after it.
#include <gtest/gtest.h>

#include "common/report.h"
#include "platform/kernel.h"
#include "platform/platform.h"
#include "support/sim_fixture.h"

namespace {

using ReportSinkTest = crvtest::SimTest;

TEST_F(ReportSinkTest, AReportBetweenAFailureAndItsErrorChangesNeither) {
  platform::Kernel& kernel = *platform::Os().kernel;
  ASSERT_FALSE(kernel.SetEvent(reinterpret_cast<platform::Handle>(uintptr_t{0x7FF0})));
  ASSERT_EQ(kernel.GetLastError(), platform::kErrorInvalidHandle);
  ASSERT_NE(platform::kErrorInvalidHandle, sim::Machine::kDebugOutputLastError);

  // Reported twice in a row, each time with the error read afresh, as the failure paths do.
  crv::Report(crv::kReportAllocationFailed, nullptr, kernel.GetLastError());
  crv::ReportInfo(u"after the failure", kernel.GetLastError());
  EXPECT_EQ(kernel.GetLastError(), platform::kErrorInvalidHandle);

  ASSERT_EQ(machine.Reports().size(), 2u);
  EXPECT_EQ(machine.Reports()[0].value, platform::kErrorInvalidHandle);
  EXPECT_EQ(machine.Reports()[1].value, platform::kErrorInvalidHandle);
}

}  // namespace

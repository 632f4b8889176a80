#include "support/sim_fixture.h"

#include <cstdio>

namespace crvtest {

std::vector<std::string> ReportTexts(const sim::Machine& machine, uint32_t code) {
  std::vector<std::string> texts;
  for (const auto& report : machine.Reports()) {
    if (report.code == code) texts.push_back(crv::Utf16ToUtf8(report.message));
  }
  return texts;
}

std::string DescribeReports(const sim::Machine& machine) {
  std::string out;
  for (const auto& report : machine.Reports()) {
    char head[64];
    std::snprintf(head, sizeof head, "[%llu ms] 0x%08X ",
                  static_cast<unsigned long long>(report.timeMs), report.code);
    out += head + crv::Utf16ToUtf8(report.message) + " value " + std::to_string(report.value) +
           "\n";
  }
  return out;
}

}  // namespace crvtest

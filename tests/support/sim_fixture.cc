#include "support/sim_fixture.h"

#include <cstdio>
#include <cstring>

#include "platform/sim/state/device_sim.h"

namespace crvtest {

void AddTestAdapter(sim::Machine& machine, uint8_t ifIndex) {
  char guid[64];
  std::snprintf(guid, sizeof guid, "{00000000-0000-0000-0000-0000000000%02X}", ifIndex);
  sim::AddAdapter(machine, {.guid = crv::Utf8ToUtf16(guid),
                            .mac = {0x00, 0x1B, 0x21, 0x00, 0x00, ifIndex},
                            .ifIndex = ifIndex,
                            .description = u"Intel(R) Ethernet Controller X710",
                            .service = u"i40ea"});
}

uint32_t InitMiniport(crv::CMiniport& miniport, std::u16string_view guid) {
  std::u16string name = u"\\\\.\\" + std::u16string(guid);
  return miniport.Init(u"", 0, name.c_str(), (name.size() + 1) * sizeof(char16_t));
}

sim::SimInterface InterfaceRow(uint32_t index, uint32_t type, const char* description,
                               uint8_t macLast, uint32_t mtu) {
  sim::SimInterface i;
  i.row.dwIndex = index;
  i.row.dwType = type;
  i.row.dwMtu = mtu;
  if (macLast != 0) {
    const uint8_t mac[6] = {0x00, 0x1B, 0x21, 0x00, 0x00, macLast};
    std::memcpy(i.row.bPhysAddr, mac, 6);
    i.row.dwPhysAddrLen = 6;
  }
  std::strncpy(reinterpret_cast<char*>(i.row.bDescr), description, sizeof i.row.bDescr - 1);
  return i;
}

std::vector<std::string> ReportTexts(const sim::Machine& machine, uint32_t code) {
  std::vector<std::string> texts;
  for (const auto& report : machine.Reports()) {
    if (report.code == code) texts.push_back(crv::Utf16ToUtf8(report.message));
  }
  return texts;
}

std::vector<uint64_t> ReportTimes(const sim::Machine& machine, std::u16string_view message) {
  std::vector<uint64_t> times;
  for (const auto& report : machine.Reports()) {
    if (report.message == message) times.push_back(report.timeMs);
  }
  return times;
}

std::vector<uint32_t> ReportValues(const sim::Machine& machine, std::u16string_view message) {
  std::vector<uint32_t> values;
  for (const auto& report : machine.Reports()) {
    if (report.message == message) values.push_back(report.value);
  }
  return values;
}

std::string DescribeReports(const sim::Machine& machine) {
  std::string out;
  for (const auto& report : machine.Reports()) {
    char head[64];
    std::snprintf(head, sizeof head, "[%llu ms] 0x%08X ",
                  static_cast<unsigned long long>(report.timeMs), report.code);
    out +=
        head + crv::Utf16ToUtf8(report.message) + " value " + std::to_string(report.value) + "\n";
  }
  return out;
}

}  // namespace crvtest

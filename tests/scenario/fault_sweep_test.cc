// The fault sweep: the agent on a rich server (scenarios/fault_sweep.json) once without a fault
// to count its platform calls and allocations, then once per call occurrence, each failing
// with a status the real API gives for that call, and once per allocation. Every run must end
// without a crash, leak or hang, publish only well-formed values, recover once the fault is
// past, lose no trap it did not have to, and show the failure where the agent reports it.
//
// Each call name is tried at a sample of its occurrences (the first ones and an even spread,
// so every part of a build and a cycle is hit): three by default, ten and sixty allocations
// with CRV_FAULT_SWEEP=sample, every one with CRV_FAULT_SWEEP=full (faultsweep::SweepMode).
// The statuses of a call take turns from one occurrence to the next.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/utf.h"
#include "fault_sweep.h"

namespace {

using faultsweep::Fault;
using faultsweep::Outcome;

// How a failing call shows: it must be reported (with the injected status as the value),
// it may be reported by some of its callers, or the agent keeps it to itself.
enum class Shows { kReported, kSometimes, kSilent };

struct CallFaults {
  std::string call;
  std::vector<uint32_t> statuses;
  Shows shows;
  std::vector<uint32_t> codes;  // the report codes that carry the status
};

constexpr uint32_t kInfo = 0x44350127;

// The platform calls of the running agent and the statuses their real APIs fail with.
const std::vector<CallFaults>& Calls() {
  static const std::vector<CallFaults> calls = {
      // Registry: Win32 errors.
      {"RegOpenKeyExW", {2, 5}, Shows::kSometimes, {0x84350108}},
      {"RegCreateKeyExW", {5, 1450}, Shows::kReported, {0x84350106}},
      {"RegSetValueExW", {5, 1018}, Shows::kReported, {0x8435010B}},
      {"RegQueryValueExW", {2, 5, 234}, Shows::kSometimes, {0x84350109}},
      {"RegEnumKeyExW", {5, 234}, Shows::kSometimes, {0x84350108}},
      {"RegEnumValueW", {5, 259}, Shows::kSilent, {}},
      {"RegDeleteKeyW", {5, 2}, Shows::kSilent, {}},
      {"RegCloseKey", {6}, Shows::kSilent, {}},
      // Kernel and C runtime.
      {"CreateEventW", {5, 6, 1450}, Shows::kReported, {kInfo}},
      {"_beginthread", {8, 1450}, Shows::kReported, {0x8435010E}},
      {"WaitForMultipleObjects", {6, 87}, Shows::kReported, {0x8435011A}},
      {"SetEvent", {6}, Shows::kSilent, {}},
      {"CloseHandle", {6}, Shows::kSilent, {}},
      {"GetModuleFileNameW", {122, 126}, Shows::kSilent, {}},
      {"MultiByteToWideChar", {122, 1113}, Shows::kSilent, {}},
      {"WideCharToMultiByte", {122, 1113}, Shows::kSilent, {}},
      // IP helper and Winsock.
      {"GetIfTable", {50, 87}, Shows::kReported, {kInfo}},
      {"GetIpAddrTable", {50, 232}, Shows::kReported, {kInfo}},
      {"GetIfEntry", {1168, 13}, Shows::kSilent, {}},
      {"GetAdaptersAddresses", {232, 8}, Shows::kSilent, {}},
      {"WSAStartup", {10091, 10067}, Shows::kSilent, {}},
      {"WSACleanup", {10093}, Shows::kSilent, {}},
      {"WSAAddressToStringW", {10014, 10022}, Shows::kSilent, {}},
      {"InetPtonW", {10047}, Shows::kSilent, {}},
      // Device I/O: an open failure is never reported; the first failed query of a miniport is,
      // once, with the error of the control call.
      {"CreateFileW", {2, 5, 31, 32}, Shows::kSometimes, {0x84350110}},
      {"DeviceIoControl", {31, 50, 87, 1617}, Shows::kSometimes, {0x84350110}},
      {"CloseHandle(device)", {6}, Shows::kSilent, {}},
      // Configuration manager (CONFIGRET): skipped devices; the PnP walk reports an unreadable
      // device list.
      {"CM_Get_Device_ID_List_SizeW", {0x13, 0x04}, Shows::kSilent, {}},
      {"CM_Get_Device_ID_ListW", {0x1A, 0x13}, Shows::kSometimes, {kInfo}},
      {"CM_Locate_DevNodeW", {0x0D}, Shows::kSilent, {}},
      {"CM_Get_Parent", {0x0D}, Shows::kSilent, {}},
      {"CM_Get_Device_IDW", {0x1A, 0x05}, Shows::kSilent, {}},
      {"CM_Get_DevNode_Registry_PropertyW", {0x25, 0x1A}, Shows::kSilent, {}},
      {"CM_Open_DevNode_Key", {0x2E, 0x1D}, Shows::kSilent, {}},
      {"CM_Get_Device_Interface_List_SizeW", {0x1E, 0x13}, Shows::kSilent, {}},
      {"CM_Get_Device_Interface_ListW", {0x1A, 0x13}, Shows::kSilent, {}},
      // Dynamic loading.
      {"LoadLibraryW", {126, 193}, Shows::kSilent, {}},
      {"GetProcAddress", {127}, Shows::kSilent, {}},
      {"FreeLibrary", {6}, Shows::kSilent, {}},
      // COM and WMI (HRESULTs).
      {"CoInitializeEx", {0x80010106, 0x8007000E}, Shows::kSilent, {}},
      {"CoInitializeSecurity", {0x80010119, 0x80070005}, Shows::kSilent, {}},
      {"CoCreateInstance", {0x80040154, 0x8007000E}, Shows::kSilent, {}},
      {"ConnectServer", {0x8004100E, 0x80041003}, Shows::kSilent, {}},
      {"CoSetProxyBlanket", {0x80070005, 0x80070057}, Shows::kSilent, {}},
      {"ExecQuery", {0x80041010, 0x80041017}, Shows::kSilent, {}},
      {"CreateInstanceEnum", {0x80041010, 0x80041003}, Shows::kSilent, {}},
      {"Next", {0x80041001, 0x00040004}, Shows::kSilent, {}},
      {"Get", {0x80041002}, Shows::kSilent, {}},
      {"SafeArrayGetLBound", {0x8002000B}, Shows::kSilent, {}},
      {"SafeArrayGetUBound", {0x8002000B}, Shows::kSilent, {}},
      {"SafeArrayAccessData", {0x8000FFFF}, Shows::kSilent, {}},
      {"SafeArrayUnaccessData", {0x8000FFFF}, Shows::kSilent, {}},
      {"SafeArrayGetElement", {0x8002000B, 0x8007000E}, Shows::kSilent, {}},
  };
  return calls;
}

// The vendor libraries' entry points (the fault's status is the entry point's answer); their
// failures are reported by the firmware and link readers with texts of their own.
std::vector<CallFaults> VendorCalls() {
  static const char* const kMapi[] = {
      "QLmapiInitializeEx",          "QLmapiUninitialize",   "QLmapiGetHandleByServiceName",
      "QLmapiGetNumPhyNic",          "QLmapiGetAllPhyNic",   "QLmapiGetVbdEnumInfo",
      "QLmapiGet5706FwInfo",         "QLmapiGet57710FwInfo", "QLmapiGet579XXFwInfo",
      "QLmapiRetrieveLinkStatus",    "BmapiInitializeEx",    "BmapiUninitialize",
      "BmapiGetHandleByServiceName", "BmapiGetFirmwareInfo", "BmapiGetNumPhyNic",
      "BmapiGetAllPhyNic",           "BmapiGetVbdEnumInfo",  "BmapiGet5706FwInfo",
      "BmapiGet57710FwInfo",         "BmapiGetBRCMNicInfo"};
  static const char* const kLocal[] = {"BmapiInitializeEx",        "BmapiUninitialize",
                                       "BmapiGetBRCMNicInfoEx",    "BmapiGetNumPhyNicEx",
                                       "BmapiGetAllPhyNicHandles", "BmapiGetPhyNic",
                                       "BmapiGetPnpDevId"};
  std::vector<CallFaults> calls;
  for (const char* name : kMapi) calls.push_back({name, {1, 0x0E}, Shows::kSometimes, {kInfo}});
  for (const char* name : kLocal) {
    calls.push_back({std::string("bmapi.dll!") + name, {1, 0x0E}, Shows::kSilent, {}});
  }
  return calls;
}

std::vector<CallFaults> AllCalls() {
  std::vector<CallFaults> all = Calls();
  for (auto& c : VendorCalls()) all.push_back(c);
  return all;
}

// The service manager calls are made only by the installation words (InstallWordFailures).
const std::set<std::string> kInstallCalls = {"OpenSCManagerW", "OpenServiceW",
                                             "CreateServiceW", "ControlService",
                                             "DeleteService",  "CloseServiceHandle"};

const Outcome& Baseline() {
  static const Outcome baseline = [] {
    std::vector<std::string> names;
    for (const auto& c : AllCalls()) names.push_back(c.call);
    faultsweep::SetCountedCalls(names);
    return faultsweep::Run(Fault{});
  }();
  return baseline;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) out += "  " + line + "\n";
  return out;
}

// Whether the failure shows as the table says: for a reported call some report of one of its
// codes carries the status; no warning the run without the fault lacks carries the status
// under another code.
std::vector<std::string> CheckVisibility(const CallFaults& call, uint32_t status,
                                         const Outcome& run, const Outcome& baseline) {
  std::vector<std::string> problems;
  std::multiset<std::pair<uint32_t, uint32_t>> before;
  for (const auto& report : baseline.reports) before.insert({report.code, report.value});
  bool shown = false;
  for (const auto& report : run.reports) {
    if (report.value != status) continue;
    bool listed = false;
    for (uint32_t code : call.codes) listed = listed || report.code == code;
    shown = shown || listed;
    auto seen = before.find({report.code, report.value});
    if (seen != before.end()) {
      before.erase(seen);
    } else if (!listed && (report.code >> 30) == 2) {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08X", report.code);
      problems.push_back(std::string("reported under ") + code);
    }
  }
  if (call.shows == Shows::kReported && !shown) {
    problems.push_back("the failure is not reported with its status");
  }
  return problems;
}

struct Tally {
  uint64_t runs = 0;
  std::map<std::string, std::pair<uint64_t, uint64_t>> perCall;  // occurrences, runs
};

// Sweeps the calls whose names the filter accepts.
void SweepCalls(bool (*accept)(const std::string&)) {
  const Outcome& baseline = Baseline();
  ASSERT_TRUE(baseline.problems.empty()) << Join(baseline.problems);
  ASSERT_GT(baseline.quietCheckpoints, 10);
  faultsweep::Mode mode = faultsweep::SweepMode();
  Tally tally;
  for (const auto& call : AllCalls()) {
    if (!accept(call.call)) continue;
    uint64_t count = baseline.callsAtCutoff.at(call.call);
    size_t index = 0;
    for (uint64_t occurrence : faultsweep::Sample(count, mode.occurrencesPerCall)) {
      // The statuses take turns, so that each is tried across the call's sites.
      uint32_t status = call.statuses[index++ % call.statuses.size()];
      Fault fault{call.call, static_cast<uint32_t>(occurrence), status, 0};
      Outcome run = faultsweep::Run(fault);
      std::vector<std::string> problems = faultsweep::CompareWithBaseline(fault, run, baseline);
      for (auto& p : CheckVisibility(call, status, run, baseline)) problems.push_back(p);
      EXPECT_TRUE(problems.empty()) << fault.Describe() << ":\n" << Join(problems);
      ++tally.runs;
      ++tally.perCall[call.call].second;
    }
    tally.perCall[call.call].first = count;
  }
  std::printf("fault sweep (%s): %llu runs\n", mode.name,
              static_cast<unsigned long long>(tally.runs));
  for (const auto& [name, figures] : tally.perCall) {
    std::printf("  %-36s %6llu occurrences, %5llu runs\n", name.c_str(),
                static_cast<unsigned long long>(figures.first),
                static_cast<unsigned long long>(figures.second));
  }
}

bool IsRegistry(const std::string& name) { return name.rfind("Reg", 0) == 0; }
bool IsDevice(const std::string& name) {
  return name.rfind("CM_", 0) == 0 || name == "CreateFileW" || name == "DeviceIoControl" ||
         name == "CloseHandle(device)";
}
bool IsComOrLibrary(const std::string& name) {
  return name.rfind("Co", 0) == 0 || name.rfind("SafeArray", 0) == 0 || name == "Next" ||
         name == "Get" || name == "ExecQuery" || name == "ConnectServer" ||
         name == "CreateInstanceEnum" || name.find("mapi") != std::string::npos ||
         name.find("Library") != std::string::npos || name == "GetProcAddress";
}
bool IsOther(const std::string& name) {
  return !IsRegistry(name) && !IsDevice(name) && !IsComOrLibrary(name);
}

TEST(FaultSweep, TheTableKnowsEveryCallTheSimulatedServerCounts) {
  // Every call name the simulated server can fail must be swept (or be an installation call).
  std::string here = __FILE__;
  std::string sim = here.substr(0, here.rfind("/tests/")) + "/src/platform/sim/";
  std::set<std::string> known = kInstallCalls;
  for (const auto& c : AllCalls()) known.insert(c.call);
  std::regex literal("CheckFault\\(\"([^\"]+)\"\\)");
  int files = 0;
  for (const char* file : {"registry_api.cc", "kernel_api.cc", "ip_helper_api.cc",
                           "device_io_api.cc", "config_manager_api.cc", "dynamic_library_api.cc",
                           "com_wmi_api.cc", "code_page_api.cc", "services_api.cc"}) {
    std::ifstream in(sim + file);
    if (!in) continue;
    ++files;
    std::stringstream text;
    text << in.rdbuf();
    std::string content = text.str();
    for (std::sregex_iterator it(content.begin(), content.end(), literal), end; it != end; ++it) {
      EXPECT_TRUE(known.count((*it)[1].str()))
          << (*it)[1].str() << " (" << file << ") is not swept";
    }
  }
  EXPECT_GE(files, 8);
}

TEST(FaultSweep, TheRunWithoutFaultsIsClean) {
  const Outcome& baseline = Baseline();
  EXPECT_TRUE(baseline.problems.empty()) << Join(baseline.problems);
  EXPECT_EQ(baseline.end, sim::RunEnd::kDurationOver);
  EXPECT_FALSE(baseline.finalTree.empty());
  // The scenario exercises what the sweep is meant to reach.
  for (const char* call : {"RegCreateKeyExW", "DeviceIoControl", "CM_Get_Device_ID_ListW",
                           "GetIfEntry", "GetAdaptersAddresses", "LoadLibraryW", "ExecQuery",
                           "SafeArrayGetElement", "BmapiGetFirmwareInfo", "QLmapiGet57710FwInfo"}) {
    EXPECT_GT(baseline.callsAtCutoff.at(call), 0u) << call;
  }
  EXPECT_FALSE(baseline.traps.empty());
  EXPECT_GT(baseline.allocationsAtCutoff, 100u);
}

TEST(FaultSweep, RegistryCallFailures) { SweepCalls(IsRegistry); }
TEST(FaultSweep, DeviceAndConfigurationManagerFailures) { SweepCalls(IsDevice); }
TEST(FaultSweep, ComWmiAndVendorLibraryFailures) { SweepCalls(IsComOrLibrary); }
TEST(FaultSweep, KernelIpHelperAndTextFailures) { SweepCalls(IsOther); }

TEST(FaultSweep, AllocationFailures) {
  const Outcome& baseline = Baseline();
  ASSERT_TRUE(baseline.problems.empty()) << Join(baseline.problems);
  faultsweep::Mode mode = faultsweep::SweepMode();
  uint64_t count = baseline.allocationsAtCutoff;
  uint64_t runs = 0, silent = 0;
  for (uint64_t n : faultsweep::Sample(count, mode.allocations)) {
    Fault fault{"", 0, 0, n};
    Outcome run = faultsweep::Run(fault);
    std::vector<std::string> problems = faultsweep::CompareWithBaseline(fault, run, baseline);
    EXPECT_TRUE(problems.empty()) << fault.Describe() << ":\n" << Join(problems);
    if (run.reports.size() == baseline.reports.size()) ++silent;
    ++runs;
  }
  std::printf(
      "allocation sweep (%s): %llu of %llu allocations failed in turn, %llu without a "
      "report of their own\n",
      mode.name, static_cast<unsigned long long>(runs), static_cast<unsigned long long>(count),
      static_cast<unsigned long long>(silent));
}

}  // namespace

#include "soak_run.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>

#include "common/utf.h"
#include "platform/sim/api/event_log_sim.h"
#include "platform/sim/harness/agent_process.h"
#include "platform/sim/machine.h"
#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/smbios_builder.h"
#include "platform/sim/state/wmi_sim.h"
#include "tessar_decode.h"

namespace soak {
namespace {

const char16_t kParameters[] = u"SYSTEM\\CurrentControlSet\\Services\\CRVNicMgmt\\CRVNICS";
const std::u16string kTree = u"SYSTEM\\TessarNetwork";
constexpr uint32_t kCodeLost = 11;
constexpr uint32_t kCodeRegained = 12;
constexpr uint32_t kCodeIncreased = 13;
constexpr uint32_t kCodeReduced = 14;
constexpr size_t kTrapLinksUpOffset = 21;  // the team's ports with link, in the trap record
// Counters whose failure touches neither the link nor the build.
constexpr uint32_t kStatisticOids[] = {0x00020101, 0x00020102, 0x01020101, 0x01020102};
constexpr uint32_t kErrorGenFailure = 31;

uint64_t ResidentKiB() {
  std::FILE* file = std::fopen("/proc/self/statm", "r");
  if (file == nullptr) return 0;
  unsigned long long pages = 0, resident = 0;
  int read = std::fscanf(file, "%llu %llu", &pages, &resident);
  std::fclose(file);
  return read == 2 ? resident * 4 : 0;
}

std::u16string Number(uint64_t n) { return crv::Utf8ToUtf16(std::to_string(n)); }

// {<prefix>-0000-4000-8000-<n in 12 digits>}
std::u16string Guid(const char* prefix, uint32_t n) {
  std::string digits = std::to_string(n);
  return crv::Utf8ToUtf16(std::string("{") + prefix + "-0000-4000-8000-" +
                          std::string(12 - digits.size(), '0') + digits + "}");
}

// One adapter as the timeline knows it: present from which cycle, its link at each change.
struct PortHistory {
  std::u16string guid;
  int team = -1;                           // the team it is a member of; -1: none
  uint64_t firstCycle = 0;                 // the first cycle whose build includes it
  std::optional<uint64_t> lastCycle;       // the last cycle that still sees it
  std::map<uint64_t, bool> linkFromCycle;  // cycle -> link up from that cycle's sample on
};

class Soak {
 public:
  explicit Soak(const SoakOptions& options) : options_(options), random_(options.seed) {}

  SoakResult Run() {
    machine_.Install();
    machine_.devices().SetRecording(false);
    machine_.registry().SetDword(kParameters, u"Timeout", options_.timeoutMs);
    if (options_.trapRecordLimit != 0) {
      machine_.registry().SetDword(kParameters, u"TrapRecordLimit", options_.trapRecordLimit);
    }
    AddLoopback();
    for (uint32_t i = 0; i < options_.ports; ++i) AddPort(0, Chance(700));
    for (uint32_t t = 0; t < options_.teams; ++t) AddTeam(t);
    if (options_.inventory) InstallOnboardRecords();
    PlanTimeline();
    uint64_t duration = (options_.cycles - 1) * options_.timeoutMs + options_.timeoutMs / 4;
    sim::RunAgentProcess(machine_, {"crvnichost.exe"}, duration);
    CollectTraps(options_.cycles);
    CountRebuilds();
    ReadRemovedByLimit();
    result_.valueEnumerations = machine_.CallCount(sim::FaultCall::kRegEnumValueW);
    result_.valueDeletions = machine_.CallCount(sim::FaultCall::kRegDeleteValueW);
    result_.cycles = options_.cycles;
    CheckTree();
    ComputeExpectedTraps();
    machine_.ReleaseAbandoned();
    return result_;
  }

 private:
  bool Chance(uint32_t perMille) {
    return std::uniform_int_distribution<uint32_t>(0, 999)(random_) < perMille;
  }
  size_t Pick(size_t count) { return std::uniform_int_distribution<size_t>(0, count - 1)(random_); }
  // The middle of the interval before a cycle: what changes there is seen by that cycle.
  uint64_t BeforeCycle(uint64_t cycle) const {
    return (cycle - 1) * options_.timeoutMs + options_.timeoutMs / 2;
  }

  void AddLoopback() {
    sim::SimInterface loopback;
    loopback.row.dwIndex = 1;
    loopback.row.dwType = 24;
    std::strcpy(reinterpret_cast<char*>(loopback.row.bDescr), "Software Loopback Interface 1");
    machine_.network().Add(loopback);
  }

  sim::SimAdapter Describe(uint32_t n, bool up) {
    sim::SimAdapter a;
    a.guid = Guid("5A0C0000", n);
    a.mac = {0x00,
             0x1B,
             0x21,
             static_cast<uint8_t>(n >> 16),
             static_cast<uint8_t>(n >> 8),
             static_cast<uint8_t>(n)};
    a.ifIndex = 100 + n;
    a.description = u"Soak test port " + crv::Utf8ToUtf16(std::to_string(n));
    a.service = u"i40ea";
    a.bus = 1 + n / 8 % 250;
    a.function = n % 8;
    a.uiNumber = 1 + n % 16;
    a.firmware = "1.0." + std::to_string(n % 100);
    a.linkUp = up;
    return a;
  }

  // An adapter present from a cycle on (0: from the start).
  void AddPort(uint64_t cycle, bool up) {
    uint32_t n = nextPort_++;
    sim::SimAdapter a = Describe(n, up);
    PortHistory history;
    history.guid = a.guid;
    history.firstCycle = cycle == 0 ? 0 : cycle;
    history.linkFromCycle[history.firstCycle] = up;
    ports_.push_back(history);
    if (cycle == 0) {
      sim::AddAdapter(machine_, a);
    } else {
      machine_.At(BeforeCycle(cycle), [this, a] { sim::AddAdapter(machine_, a); });
      ++result_.hotAdds;
    }
  }

  // A team of two ports, bound to the multiplexor only (no interface of their own), with its
  // default team interface and vlansPerTeam VLAN ones. The members start with link: one
  // whose link was never seen is quiet by the trap rules, which the plain ports cover.
  void AddTeam(uint32_t t) {
    sim::LbfoTeam team;
    team.name = u"Team" + Number(t + 1);
    for (int member = 0; member < 2; ++member) {
      uint32_t n = nextPort_++;
      sim::SimAdapter a = Describe(n, true);
      a.ifIndex = 0;
      sim::AddAdapter(machine_, a);
      PortHistory history;
      history.guid = a.guid;
      history.team = static_cast<int>(t);
      history.linkFromCycle[0] = true;
      ports_.push_back(history);
      team.members.push_back({u"Ethernet " + Number(n), a.guid});
    }
    const std::vector<uint8_t> mac = {0x02, 0x1B, 0x21, 0x7E, 0x00, static_cast<uint8_t>(t + 1)};
    for (uint32_t v = 0; v <= options_.vlansPerTeam; ++v) {
      uint32_t vlan = v == 0 ? 0 : 10 + v;
      sim::LbfoTeamNic nic{v == 0 ? team.name : team.name + u" - VLAN " + Number(vlan),
                           Guid("5A0D0000", t * 100 + v), vlan, v == 0};
      sim::SimAdapter a = sim::LbfoTeamNicAdapter(nic, mac, 5000 + t * 100 + v);
      a.ipv4 = {{0x0500000Au | (t + 1) << 8 | v << 16, 0x00FFFFFF}};  // 10.t+1.v.5
      sim::AddAdapter(machine_, a);
      team.teamNics.push_back(nic);
    }
    sim::AddLbfoTeam(machine_.wmi(), team);
  }

  // Every starting port an on-board device of the machine's SMBIOS records: the platform
  // inventory then sets its slot (0) over the PnP UI number after its condition is carried.
  void InstallOnboardRecords() {
    sim::SmbiosDescription smbios;
    for (const PortHistory& port : ports_) {
      const sim::AdapterRecord* record = machine_.devices().FindAdapter(port.guid);
      if (record == nullptr) continue;
      const sim::SimAdapter& a = record->adapter;
      smbios.onboard.push_back({"Embedded NIC " + std::to_string(smbios.onboard.size() + 1), 0x85,
                                static_cast<uint8_t>(smbios.onboard.size() + 1), 0,
                                static_cast<uint8_t>(a.bus),
                                static_cast<uint8_t>(a.device << 3 | a.function)});
    }
    sim::InstallSmbios(machine_.wmi(), smbios);
    machine_.wmi().SetAvailable(true);
  }

  void PlanTimeline() {
    std::vector<size_t> added;  // hot-added ports still present
    std::map<size_t, bool> link;
    for (size_t i = 0; i < ports_.size(); ++i) link[i] = ports_[i].linkFromCycle.begin()->second;
    for (uint64_t cycle = 1; cycle < options_.cycles; ++cycle) {
      for (size_t i = 0; i < ports_.size(); ++i) {
        if (ports_[i].lastCycle || ports_[i].firstCycle >= cycle) continue;
        if (!Chance(options_.flapPerMille)) continue;
        link[i] = !link[i];
        ports_[i].linkFromCycle[cycle] = link[i];
        std::u16string guid = ports_[i].guid;
        bool up = link[i];
        machine_.At(BeforeCycle(cycle),
                    [this, guid, up] { sim::SetAdapterLink(machine_, guid, up); });
        ++result_.flaps;
      }
      if (Chance(options_.hotplugPerMille)) {
        bool up = Chance(600);
        AddPort(cycle, up);
        link[ports_.size() - 1] = up;
        added.push_back(ports_.size() - 1);
      } else if (!added.empty() && Chance(options_.hotplugPerMille)) {
        size_t which = Pick(added.size());
        size_t i = added[which];
        added.erase(added.begin() + static_cast<ptrdiff_t>(which));
        if (ports_[i].firstCycle < cycle) {
          ports_[i].lastCycle = cycle - 1;
          std::u16string guid = ports_[i].guid;
          machine_.At(BeforeCycle(cycle), [this, guid] { sim::RemoveAdapter(machine_, guid); });
          ++result_.hotRemoves;
        }
      }
      PlanFaults(cycle);
      if (cycle % options_.sampleEvery == 0) {
        machine_.At(BeforeCycle(cycle), [this, cycle] { Sample(cycle); });
      }
    }
  }

  // Faults that must change nothing the traps depend on: a driver that stops answering its
  // counters, another component writing nonsense where the agent reads configuration, and the
  // IP helper failing the per-port octet query.
  void PlanFaults(uint64_t cycle) {
    if (Chance(options_.faultPerMille)) {
      std::u16string guid = ports_[Pick(options_.ports)].guid;
      uint32_t oid = kStatisticOids[Pick(std::size(kStatisticOids))];
      bool fail = Chance(500);
      machine_.At(BeforeCycle(cycle), [this, guid, oid, fail] {
        if (sim::NdisDevice* d = machine_.devices().FindNdis(guid)) {
          d->oids[oid] = fail ? sim::OidAnswer::Fail(kErrorGenFailure) : sim::OidAnswer::Dword(7);
        }
      });
      ++result_.driverFaults;
    }
    if (Chance(options_.faultPerMille)) {
      std::u16string guid = ports_[Pick(options_.ports)].guid;
      std::vector<uint8_t> junk(Pick(600));
      for (uint8_t& b : junk) b = static_cast<uint8_t>(random_());
      uint32_t type = static_cast<uint32_t>(Pick(8));
      machine_.At(BeforeCycle(cycle), [this, guid, junk, type] {
        if (sim::AdapterRecord* r = machine_.devices().FindAdapter(guid)) {
          machine_.registry().SetValue(r->classKey, u"*SpeedDuplex", type, junk);
        }
      });
      ++result_.registryFaults;
    }
    if (Chance(options_.faultPerMille)) {
      // The occurrence is counted from the start of the run: one that is still to come.
      machine_.At(BeforeCycle(cycle), [this] {
        const auto next =
            static_cast<uint32_t>(machine_.CallCount(sim::FaultCall::kGetIfEntry) + 1);
        if (!machine_.FailCall("GetIfEntry", next, kErrorGenFailure)) std::abort();
      });
      ++result_.ipHelperFaults;
    }
  }

  // Memory at a cycle, after the reader of the tree (when there is one) has taken the trap
  // records away. The simulated event log is emptied, as the report list is: on Windows the
  // Application log has a size limit of its own, and the soak measures the agent.
  void Sample(uint64_t cycle) {
    if (options_.reader) CollectTraps(cycle);
    CountRebuilds();
    machine_.ClearReports();
    if (!options_.keepEventLog) machine_.eventLog().Clear();
    result_.samples.push_back({cycle, machine_.LiveAllocations(), ResidentKiB(),
                               static_cast<uint64_t>(std::clock()) * 1000 / CLOCKS_PER_SEC});
  }

  // Reads and removes the trap records, as the management service does.
  void CollectTraps(uint64_t) {
    for (const auto& key : machine_.registry().SubKeyNames(kTree)) {
      if (key.rfind(u"Trap_", 0) != 0) continue;
      uint32_t code = key == u"Trap_ConnectivityLost"       ? kCodeLost
                      : key == u"Trap_ConnectivityRegained" ? kCodeRegained
                      : key == u"Trap_RedundancyIncreased"  ? kCodeIncreased
                      : key == u"Trap_RedundancyReduced"    ? kCodeReduced
                                                            : 0;
      std::u16string path = kTree + u"\\" + key;
      for (const auto& name : machine_.registry().ValueNames(path)) {
        uint64_t fileTime = std::stoull(crv::Utf16ToUtf8(name.substr(8)), nullptr, 16);
        uint64_t ms = (fileTime - machine_.StartFileTime()) / 10000;
        std::optional<sim::RegValue> record = machine_.registry().GetValue(path, name);
        uint32_t linksUp = record && record->data.size() > kTrapLinksUpOffset
                               ? record->data[kTrapLinksUpOffset]
                               : 0xFFFFFFFFu;
        result_.written.push_back(
            {(ms + options_.timeoutMs / 2) / options_.timeoutMs, code, linksUp});
        machine_.registry().DeleteValue(path, name);
      }
    }
  }

  void ReadRemovedByLimit() {
    std::optional<sim::RegValue> value = machine_.registry().GetValue(kTree, u"TrapRecordsRemoved");
    if (value && value->data.size() == 4) {
      result_.removedByLimit = value->data[0] | value->data[1] << 8 | value->data[2] << 16 |
                               uint64_t{value->data[3]} << 24;
    }
  }

  void CountRebuilds() {
    for (const auto& report : machine_.Reports()) {
      if (report.message == u"Detected change in interface table, reinitializing") {
        ++result_.buildReports;
      }
    }
  }

  void CheckTree() {
    std::string dump = machine_.registry().Dump(kTree);
    std::optional<tessar::RawKey> root;
    tessar::ParseError error;
    if (!tessar::ParseDump(dump, &root, &error)) {
      result_.problem = "the dump does not parse: " + error.message;
      return;
    }
    if (!root) {
      result_.problem = "no tree";
      return;
    }
    result_.treeWellFormed = FindProblem(tessar::DecodeTree(*root));
  }

  bool FindProblem(const tessar::DecodedKey& key) {
    for (const auto& value : key.values) {
      if (!value.problem.empty() || value.kind.empty()) {
        result_.problem = key.path + "\\" + value.name + ": " +
                          (value.problem.empty() ? "not a value of the tree" : value.problem);
        return false;
      }
    }
    for (const auto& sub : key.subkeys) {
      if (!FindProblem(sub)) return false;
    }
    return true;
  }

  // The trap rules for ports outside teams, from the link each poll cycle samples: a port's
  // first cycle sets its start; after that every change of the sampled link is a trap (lost
  // when it went down, regained when it came up). A hot-added port has no start-up link to
  // compare with: its first cycle already raises one, for the link it came with.
  void ComputeExpectedTraps() {
    for (const PortHistory& port : ports_) {
      if (port.team >= 0) continue;
      std::optional<bool> previous;
      uint64_t end = port.lastCycle ? *port.lastCycle : options_.cycles - 1;
      for (auto it = port.linkFromCycle.begin(); it != port.linkFromCycle.end(); ++it) {
        if (it->first > end) break;
        bool up = it->second;
        bool first = it == port.linkFromCycle.begin();
        if (first && port.firstCycle == 0) {
          previous = up;
          continue;
        }
        if (!previous || *previous != up) {
          result_.expected.push_back({it->first, up ? kCodeRegained : kCodeLost});
        }
        previous = up;
      }
    }
    for (uint32_t t = 0; t < options_.teams; ++t) ComputeTeamTraps(static_cast<int>(t));
    auto byCycle = [](const SoakTrap& a, const SoakTrap& b) {
      return a.cycle != b.cycle ? a.cycle < b.cycle
             : a.code != b.code ? a.code < b.code
                                : a.linksUp < b.linksUp;
    };
    std::sort(result_.expected.begin(), result_.expected.end(), byCycle);
    std::sort(result_.written.begin(), result_.written.end(), byCycle);
  }

  // The link a port's sample sees at a cycle: its last change at or before it.
  static bool LinkAt(const PortHistory& port, uint64_t cycle) {
    return std::prev(port.linkFromCycle.upper_bound(cycle))->second;
  }

  // The trap rules for a team's members. The team's interface refreshes its ports in turn
  // (in the order they were added) and counts its ports with link as it goes, so each member
  // whose sampled link changed raises one trap chosen by the count after its own change: a
  // member that lost its link raises "redundancy reduced" while another port still has link,
  // else "connectivity lost"; one that regained it raises "redundancy increased" when it is
  // not the only port with link, else "connectivity regained". Only the redundancy codes
  // carry the count.
  void ComputeTeamTraps(int team) {
    std::vector<const PortHistory*> members;
    std::set<uint64_t> changes;
    for (const PortHistory& port : ports_) {
      if (port.team != team) continue;
      members.push_back(&port);
      for (const auto& change : port.linkFromCycle) {
        if (change.first > 0 && change.first < options_.cycles) changes.insert(change.first);
      }
    }
    for (uint64_t cycle : changes) {
      uint32_t up = 0;
      for (const PortHistory* member : members) up += LinkAt(*member, cycle - 1) ? 1 : 0;
      for (const PortHistory* member : members) {
        bool now = LinkAt(*member, cycle);
        if (now == LinkAt(*member, cycle - 1)) continue;
        up = now ? up + 1 : up - 1;
        if (now) {
          result_.expected.push_back(up > 1 ? SoakTrap{cycle, kCodeIncreased, up}
                                            : SoakTrap{cycle, kCodeRegained, 0});
        } else {
          result_.expected.push_back(up > 0 ? SoakTrap{cycle, kCodeReduced, up}
                                            : SoakTrap{cycle, kCodeLost, 0});
        }
      }
    }
  }

  SoakOptions options_;
  std::mt19937 random_;
  sim::Machine machine_;
  std::vector<PortHistory> ports_;
  uint32_t nextPort_ = 1;
  SoakResult result_;
};

}  // namespace

bool TrapsAccountedFor(const SoakResult& result) {
  // Both lists are in cycle order: each written trap must be the next owed one that the
  // limit did not remove.
  size_t owed = 0;
  uint64_t missing = 0;
  for (const SoakTrap& written : result.written) {
    while (owed < result.expected.size() && !(result.expected[owed] == written)) {
      ++owed;
      ++missing;
    }
    if (owed == result.expected.size()) return false;
    ++owed;
  }
  missing += result.expected.size() - owed;
  return missing == result.removedByLimit;
}

SoakResult RunSoak(const SoakOptions& options) { return Soak(options).Run(); }

}  // namespace soak

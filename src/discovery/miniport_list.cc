#include "discovery/miniport_list.h"

#include <cstring>

#include "common/alloc.h"
#include "common/report.h"
#include "common/text.h"
#include "discovery/lbfo_teams.h"
#include "discovery/net_class_if.h"
#include "platform/os_access.h"
#include "platform/platform.h"

namespace crv {
namespace {

constexpr uint32_t kTeamMemberAdapter = 0x1;   // team flags: a member port
constexpr uint32_t kTeamVirtualAdapter = 0x2;  // team flags: the team's own adapter
constexpr int32_t kAnsiTextBytes = 1024;

// text in the ANSI code page and lower case into out (terminated; empty when it does not
// convert).
void ToLowerAnsi(const char16_t* text, int32_t length, char (&out)[kAnsiTextBytes]) {
  out[0] = 0;
  if (text == nullptr || length == 0) return;
  int32_t written = platform::Os().codePage->WideCharToMultiByte(platform::kCpAcp, 0, text, length,
                                                                 out, kAnsiTextBytes - 1);
  out[written > 0 ? written : 0] = 0;
  LowerCaseInPlace(out);
}

// The key of the address index: the length and the bytes MatchCurrentAddress compares.
uint64_t HashAddress(const uint8_t* address, uint32_t length) {
  return HashBytes(address, length < CMiniport::kAddressBytes ? length : CMiniport::kAddressBytes,
                   length);
}

uint64_t HashInterfaceIndex(uint32_t interfaceIndex) { return HashWords(&interfaceIndex, 1); }

}  // namespace

uint64_t HashTeamIndex(uint32_t teamIndex) { return HashWords(&teamIndex, 1); }

IpAddressIndex::IpAddressIndex(const platform::MibIpAddrTable* table) : table_(table) {
  rows_.Start();
  if (table == nullptr) return;
  for (uint32_t i = 0; i < table->dwNumEntries; ++i) {
    const platform::MibIpAddrRow& row = table->table[i];
    if (!rows_.Add(HashInterfaceIndex(row.dwIndex), const_cast<platform::MibIpAddrRow*>(&row))) {
      return;
    }
  }
}

const platform::MibIpAddrRow* IpAddressIndex::First(uint32_t interfaceIndex,
                                                    uint32_t* cursor) const {
  *cursor = rows_.First(HashInterfaceIndex(interfaceIndex));
  while (*cursor != ListIndex::kNone) {
    auto* row = static_cast<const platform::MibIpAddrRow*>(rows_.Value(*cursor));
    if (row->dwIndex == interfaceIndex) return row;
    *cursor = rows_.Next(*cursor);
  }
  return nullptr;
}

const platform::MibIpAddrRow* IpAddressIndex::Next(uint32_t* cursor) const {
  uint32_t interfaceIndex =
      static_cast<const platform::MibIpAddrRow*>(rows_.Value(*cursor))->dwIndex;
  for (*cursor = rows_.Next(*cursor); *cursor != ListIndex::kNone; *cursor = rows_.Next(*cursor)) {
    auto* row = static_cast<const platform::MibIpAddrRow*>(rows_.Value(*cursor));
    if (row->dwIndex == interfaceIndex) return row;
  }
  return nullptr;
}

CMiniportList::CMiniportList() {
  byGuid_.Start();
  byAddress_.Start();
}

bool GuidMatchesInterfaceName(const CMiniport& miniport, const char16_t* interfaceName) {
  char deviceName[kAnsiTextBytes];
  const char16_t* name = miniport.DeviceName();
  ToLowerAnsi(name, static_cast<int32_t>(TextLength(name)), deviceName);
  const char* match = std::strchr(deviceName, '{');
  if (match == nullptr) return false;
  char interfaceText[kAnsiTextBytes];
  ToLowerAnsi(
      interfaceName,
      static_cast<int32_t>(TextLengthBounded(interfaceName, platform::kMaxInterfaceNameLength)),
      interfaceText);
  return std::strstr(interfaceText, match) != nullptr;
}

MINIPORTNODE* CMiniportList::AllocateMiniportNode() {
  CMiniport* miniport = NewObject<CMiniport>();
  if (miniport == nullptr) {
    uint32_t error = LastError();
    Report(kReportAllocationFailed, nullptr, error);
    ReportInfo(u"CMiniportList::AllocateMiniportNode: failure to allocate CMiniport", error);
    ReportInfo(nullptr, error);
    return nullptr;
  }
  MINIPORTNODE* node = SinglyLinkedList<CMiniport>::NewNode(miniport);
  if (node == nullptr) {
    uint32_t error = LastError();
    Report(kReportAllocationFailed, nullptr, error);
    ReportInfo(u"CMiniportList::AllocateMiniportNode: failure to allocate MINIPORTNODE", error);
    DeleteObject(miniport);
  }
  return node;
}

void CMiniportList::Append(MINIPORTNODE* node) {
  list_.Append(node);
  ++count_;
  CMiniport& miniport = *node->element;
  if (miniport.Guid() != nullptr) byGuid_.Add(HashFoldedText(miniport.Guid()), &miniport);
  uint32_t length = miniport.CurrentAddressLength();
  if (length != 0) {
    uint8_t address[CMiniport::kAddressBytes] = {};
    miniport.GetCurrentAddress(address, length);
    byAddress_.Add(HashAddress(address, length), &miniport);
  }
  if (teamMembersFiled_) teamMembers_.Release();  // filed again at the next look-up
  teamMembersFiled_ = false;
}

void CMiniportList::IndexTeamMembers() const {
  teamMembersFiled_ = true;
  teamMembers_.Start();
  for (MINIPORTNODE* node = list_.Head(); node != nullptr; node = node->next) {
    const CMiniport& m = *node->element;
    if ((m.TeamFlags() & 1) == 0) continue;
    if (!teamMembers_.Add(HashTeamIndex(m.TeamIndex()), node->element)) return;
  }
}

template <class Match>
CMiniport* CMiniportList::FindByAddress(const uint8_t* address, uint32_t length,
                                        Match match) const {
  auto matches = [&](CMiniport& m) { return m.MatchCurrentAddress(address, length) && match(m); };
  if (byAddress_.Usable()) {
    if (length == 0) return nullptr;  // no miniport matches an empty address
    return byAddress_.FindFirst<CMiniport>(HashAddress(address, length), matches);
  }
  for (MINIPORTNODE* node = list_.Head(); node != nullptr; node = node->next) {
    if (matches(*node->element)) return node->element;
  }
  return nullptr;
}

uint32_t CMiniportList::Init() {
  CNetClassIfList* interfaces = NewObject<CNetClassIfList>();
  if (interfaces == nullptr) return platform::kErrorNotEnoughMemory;
  interfaces->Enumerate();

  uint32_t result = platform::kErrorNotEnoughMemory;
  for (NETCLASSIFNODE* entry = interfaces->Head(); entry != nullptr; entry = entry->next) {
    const CNetClassIf& netClassIf = *entry->element;
    if (FindByGuid(netClassIf.GetGuidText()) != nullptr) continue;
    MINIPORTNODE* node = AllocateMiniportNode();
    if (node == nullptr) continue;
    auto* deviceName = static_cast<char16_t*>(AllocateZeroed(netClassIf.DeviceNameSize()));
    auto* path = static_cast<char16_t*>(AllocateZeroed(netClassIf.PathSize()));
    if (deviceName == nullptr || path == nullptr) {
      SinglyLinkedList<CMiniport>::DestroyNode(node);
    } else {
      netClassIf.CopyDeviceName(deviceName);
      netClassIf.CopyPath(path);
      if (node->element->Init(path, netClassIf.PathSize(), deviceName,
                              netClassIf.DeviceNameSize()) == 0) {
        if (IsTeamMultiplexorPath(netClassIf.Path())) node->element->MarkTeamMultiplexor();
        Append(node);
      } else {
        SinglyLinkedList<CMiniport>::DestroyNode(node);
      }
      result = 0;
    }
    FreeBlock(deviceName);
    FreeBlock(path);
  }
  DeleteObject(interfaces);
  // Team membership, read once for the whole list.
  bool teamsRead = true;
  if (count_ != 0) ApplyLbfoTeams(*this, &teamsRead);
  if (!teamsRead) WithholdTeamInterfaces();
  return result;
}

void CMiniportList::WithholdTeamInterfaces() {
  // Without the teams' answer a team interface carries its members' address and would pair
  // with an interface row as a port of its own; claimed for no interface, it pairs with none
  // until a build reads the teams.
  for (MINIPORTNODE* node = list_.Head(); node != nullptr; node = node->next) {
    if (!node->element->IsTeamMultiplexor()) continue;
    node->element->Claim(CMiniport::kNoInterface);
    teamsPending_ = true;
  }
}

CMiniport* CMiniportList::FindByGuid(const char16_t* guid) const {
  if (byGuid_.Usable()) {
    return byGuid_.FindFirst<CMiniport>(HashFoldedText(guid), [guid](const CMiniport& m) {
      return m.Guid() != nullptr && EqualsNoCase(m.Guid(), guid);
    });
  }
  for (MINIPORTNODE* node = list_.Head(); node != nullptr; node = node->next) {
    if (node->element->Guid() != nullptr && EqualsNoCase(node->element->Guid(), guid)) {
      return node->element;
    }
  }
  return nullptr;
}

CMiniport* CMiniportList::FindByInterface(uint32_t interfaceIndex, const uint8_t* address,
                                          uint32_t length) const {
  return FindByAddress(address, length, [interfaceIndex](const CMiniport& m) {
    return m.InterfaceIndex() == interfaceIndex;
  });
}

uint32_t CMiniportList::GetInterfaceAddresses(uint32_t interfaceIndex, uint32_t* addresses,
                                              const platform::MibIpAddrTable* table,
                                              const IpAddressIndex* index) const {
  if (table == nullptr) return platform::kErrorFileNotFound;
  uint32_t found = 0;
  if (index != nullptr && index->Covers(table)) {
    uint32_t cursor = 0;
    for (auto* row = index->First(interfaceIndex, &cursor); row != nullptr;
         row = index->Next(&cursor)) {
      addresses[found++] = row->dwAddr;
    }
  } else {
    for (uint32_t i = 0; i < table->dwNumEntries; ++i) {
      if (table->table[i].dwIndex == interfaceIndex) addresses[found++] = table->table[i].dwAddr;
    }
  }
  if (found != 0 && addresses[0] != 0) return 0;
  ReportInfo(u"Interface not found in IpAddrTable.", interfaceIndex);
  return platform::kErrorFileNotFound;
}

CMiniport* CMiniportList::PairTeamAdapter(const platform::MibIfRow& row, bool hasAddress,
                                          bool virtualAdapters) {
  // The candidates in list order: the pass stops at the first one paired.
  CMiniport* paired = nullptr;
  FindByAddress(row.bPhysAddr, row.dwPhysAddrLen, [&](CMiniport& miniport) {
    if ((miniport.TeamAttribute() != 0) != virtualAdapters ||
        (miniport.TeamFlags() & kTeamVirtualAdapter) == 0 || miniport.Claimed()) {
      return false;
    }
    paired = TryTeamCandidate(miniport, row, hasAddress, virtualAdapters);
    return paired != nullptr;
  });
  return paired;
}

CMiniport* CMiniportList::TryTeamCandidate(CMiniport& miniport, const platform::MibIfRow& row,
                                           bool hasAddress, bool virtualAdapters) {
  uint32_t linkStatus = kLinkUnknown;
  miniport.GetLinkStatus(&linkStatus);
  bool fake = linkStatus != kLinkFailure && !hasAddress;
  if (fake) ReportInfo(u"CMiniportList::AllocateMiniport: got a fake nic", linkStatus);
  // Among the team's adapters without an attribute a fake one is passed over even when its
  // GUID matches.
  if (fake && !virtualAdapters) return nullptr;
  if (!GuidMatchesInterfaceName(miniport, row.wszName)) return nullptr;
  miniport.Claim(row.dwIndex);
  if (virtualAdapters && linkStatus == kLinkOk) miniport.ClearLinkNeverSeen();
  return &miniport;
}

bool CMiniportList::IsTeamMemberInterface(const platform::MibIfRow& row) const {
  return FindByAddress(row.bPhysAddr, row.dwPhysAddrLen, [&](const CMiniport& m) {
           return (m.TeamFlags() & kTeamMemberAdapter) != 0 &&
                  GuidMatchesInterfaceName(m, row.wszName);
         }) != nullptr;
}

CMiniport* CMiniportList::AllocateMiniport(const platform::MibIfRow& row,
                                           const platform::MibIpAddrTable* table,
                                           const IpAddressIndex* index) {
  // While the teams are unread a team interface's row is no managed interface: its address
  // would pair it with a member port.
  if (teamsPending_ && FindByAddress(row.bPhysAddr, row.dwPhysAddrLen, [&row](const CMiniport& m) {
                         return m.IsTeamMultiplexor() && GuidMatchesInterfaceName(m, row.wszName);
                       }) != nullptr) {
    return nullptr;
  }
  // Room for every address the interface can have: one per row of the table, or with an
  // index the interface's own rows.
  uint32_t rows = table != nullptr ? table->dwNumEntries : 0;
  if (index != nullptr && index->Covers(table)) {
    uint32_t cursor = 0;
    rows = 0;
    for (auto* r = index->First(row.dwIndex, &cursor); r != nullptr; r = index->Next(&cursor)) {
      ++rows;
    }
  }
  auto* addresses =
      static_cast<uint32_t*>(AllocateZeroed((rows != 0 ? rows : 1) * sizeof(uint32_t)));
  if (addresses == nullptr) return nullptr;
  bool hasAddress =
      GetInterfaceAddresses(row.dwIndex, addresses, table, index) == 0 && addresses[0] != 0;

  CMiniport* found = PairTeamAdapter(row, hasAddress, true);
  if (found == nullptr) found = PairTeamAdapter(row, hasAddress, false);
  if (found == nullptr) {
    found = FindByAddress(row.bPhysAddr, row.dwPhysAddrLen,
                          [](const CMiniport& m) { return !m.Claimed() && m.TeamFlags() == 0; });
    if (found != nullptr) found->Claim(row.dwIndex);
  }
  FreeBlock(addresses);
  return found;
}

}  // namespace crv

#include "discovery/miniport_list.h"

#include <cstring>

#include "common/alloc.h"
#include "common/report.h"
#include "common/text.h"
#include "discovery/net_class_if.h"
#include "platform/platform.h"

namespace crv {
namespace {

constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kTeamVirtualAdapter = 0x2;  // team flags: the team's own adapter
constexpr int32_t kAnsiTextBytes = 1024;

uint32_t LastError() { return platform::Os().kernel->GetLastError(); }

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

}  // namespace

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
}

uint32_t CMiniportList::Init() {
  CNetClassIfList* interfaces = NewObject<CNetClassIfList>();
  if (interfaces == nullptr) return kErrorNotEnoughMemory;
  interfaces->Enumerate();

  uint32_t result = kErrorNotEnoughMemory;
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
  return result;
}

CMiniport* CMiniportList::FindByGuid(const char16_t* guid) const {
  for (MINIPORTNODE* node = list_.Head(); node != nullptr; node = node->next) {
    if (node->element->Guid() != nullptr && EqualsNoCase(node->element->Guid(), guid)) {
      return node->element;
    }
  }
  return nullptr;
}

CMiniport* CMiniportList::FindByInterface(uint32_t interfaceIndex, const uint8_t* address,
                                          uint32_t length) const {
  for (MINIPORTNODE* node = list_.Head(); node != nullptr; node = node->next) {
    CMiniport& miniport = *node->element;
    if (miniport.MatchCurrentAddress(address, length) &&
        miniport.InterfaceIndex() == interfaceIndex) {
      return &miniport;
    }
  }
  return nullptr;
}

uint32_t CMiniportList::GetInterfaceAddresses(uint32_t interfaceIndex, uint32_t* addresses,
                                              const platform::MibIpAddrTable* table) const {
  if (table == nullptr) return kErrorFileNotFound;
  uint32_t found = 0;
  for (uint32_t i = 0; i < table->dwNumEntries; ++i) {
    if (table->table[i].dwIndex == interfaceIndex) addresses[found++] = table->table[i].dwAddr;
  }
  if (found != 0 && addresses[0] != 0) return 0;
  ReportInfo(u"Interface not found in IpAddrTable.", interfaceIndex);
  return kErrorFileNotFound;
}

CMiniport* CMiniportList::PairTeamAdapter(const platform::MibIfRow& row, bool hasAddress,
                                          bool virtualAdapters) {
  for (MINIPORTNODE* node = list_.Head(); node != nullptr; node = node->next) {
    CMiniport& miniport = *node->element;
    if (!miniport.MatchCurrentAddress(row.bPhysAddr, row.dwPhysAddrLen) ||
        (miniport.TeamAttribute() != 0) != virtualAdapters ||
        (miniport.TeamFlags() & kTeamVirtualAdapter) == 0 || miniport.Claimed()) {
      continue;
    }
    uint32_t linkStatus = kLinkUnknown;
    miniport.GetLinkStatus(&linkStatus);
    bool fake = linkStatus != kLinkFailure && !hasAddress;
    if (fake) ReportInfo(u"CMiniportList::AllocateMiniport: got a fake nic", linkStatus);
    // Among the team's adapters without an attribute a fake one is passed over even when its
    // GUID matches.
    if (fake && !virtualAdapters) continue;
    if (!GuidMatchesInterfaceName(miniport, row.wszName)) continue;
    miniport.Claim(row.dwIndex);
    if (virtualAdapters && linkStatus == kLinkOk) miniport.ClearLinkNeverSeen();
    return &miniport;
  }
  return nullptr;
}

CMiniport* CMiniportList::AllocateMiniport(const platform::MibIfRow& row,
                                           const platform::MibIpAddrTable* table) {
  uint32_t rows = table != nullptr ? table->dwNumEntries : 0;
  auto* addresses =
      static_cast<uint32_t*>(AllocateZeroed((rows != 0 ? rows : 1) * sizeof(uint32_t)));
  if (addresses == nullptr) return nullptr;
  bool hasAddress = GetInterfaceAddresses(row.dwIndex, addresses, table) == 0 && addresses[0] != 0;

  CMiniport* found = PairTeamAdapter(row, hasAddress, true);
  if (found == nullptr) found = PairTeamAdapter(row, hasAddress, false);
  if (found == nullptr) {
    for (MINIPORTNODE* node = list_.Head(); node != nullptr; node = node->next) {
      CMiniport& miniport = *node->element;
      if (miniport.MatchCurrentAddress(row.bPhysAddr, row.dwPhysAddrLen) && !miniport.Claimed() &&
          miniport.TeamFlags() == 0) {
        miniport.Claim(row.dwIndex);
        found = &miniport;
        break;
      }
    }
  }
  FreeBlock(addresses);
  return found;
}

}  // namespace crv

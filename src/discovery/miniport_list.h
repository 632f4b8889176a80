// CMiniportList: one CMiniport for every network adapter instance that answers NDIS queries
// as an Ethernet or Token Ring adapter, in device interface order, and the pairing of the
// operating system's interfaces with them. It lives for one model build.
#pragma once

#include <cstdint>

#include "common/slist.h"
#include "discovery/miniport.h"
#include "platform/ip_helper.h"

namespace crv {

using MINIPORTNODE = ListNode<CMiniport>;

class CMiniportList {
 public:
  CMiniportList() = default;
  CMiniportList(const CMiniportList&) = delete;
  CMiniportList& operator=(const CMiniportList&) = delete;
  // Deletes every node with its miniport.
  virtual ~CMiniportList() = default;

  // Builds the list from the network-class device interfaces: 0 when at least one adapter
  // was tried, 8 when none could be. Adapters whose miniport cannot be used are left out
  // without a report.
  uint32_t Init();
  // A new node owning a new, empty miniport, or null (reported).
  MINIPORTNODE* AllocateMiniportNode();
  // Appends a node (as Init does).
  void Append(MINIPORTNODE* node);

  // The first miniport whose GUID equals guid, ignoring case; null when none.
  CMiniport* FindByGuid(const char16_t* guid) const;
  // The first miniport paired with that interface whose current address is the given one.
  CMiniport* FindByInterface(uint32_t interfaceIndex, const uint8_t* address,
                             uint32_t length) const;
  // Collects the addresses the table gives the interface into addresses (room for one per
  // row). 0 when the first is not 0.0.0.0; otherwise 2 (reported when the table exists).
  uint32_t GetInterfaceAddresses(uint32_t interfaceIndex, uint32_t* addresses,
                                 const platform::MibIpAddrTable* table) const;
  // Pairs an interface row with a miniport of the list and marks it claimed; null when none
  // fits. A team's own virtual adapter is taken only when its GUID occurs in the interface
  // name; a plain adapter is taken on its station address, once.
  CMiniport* AllocateMiniport(const platform::MibIfRow& row, const platform::MibIpAddrTable* table);

  MINIPORTNODE* Head() const { return list_.Head(); }
  uint32_t Count() const { return count_; }

 private:
  // One of the two team passes: the first candidate paired, or null.
  CMiniport* PairTeamAdapter(const platform::MibIfRow& row, bool hasAddress, bool virtualAdapters);

  SinglyLinkedList<CMiniport> list_;
  uint32_t count_ = 0;
};

// Whether a miniport's GUID occurs in an interface name, both in the ANSI code page and
// lower case (the operating system names an adapter's interface with a text holding the
// adapter GUID).
bool GuidMatchesInterfaceName(const CMiniport& miniport, const char16_t* interfaceName);

}  // namespace crv

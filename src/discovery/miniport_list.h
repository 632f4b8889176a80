// CMiniportList: one CMiniport for every network adapter instance that answers NDIS queries
// as an Ethernet or Token Ring adapter, in device interface order, and the pairing of the
// operating system's interfaces with them. It lives for one model build.
#pragma once

#include <cstdint>

#include "common/list_index.h"
#include "common/slist.h"
#include "discovery/miniport.h"
#include "platform/ip_helper.h"

namespace crv {

using MINIPORTNODE = ListNode<CMiniport>;

// The rows of an IP address table by interface index, so that the addresses of one
// interface are collected without a walk of the table. The table must stay as it is while
// the index is used.
class IpAddressIndex {
 public:
  explicit IpAddressIndex(const platform::MibIpAddrTable* table);
  IpAddressIndex(const IpAddressIndex&) = delete;
  IpAddressIndex& operator=(const IpAddressIndex&) = delete;

  // Whether lookups in that table may use the index.
  bool Covers(const platform::MibIpAddrTable* table) const {
    return table != nullptr && table == table_ && rows_.Usable();
  }
  // The interface's rows in table order: First, then Next until null.
  const platform::MibIpAddrRow* First(uint32_t interfaceIndex, uint32_t* cursor) const;
  const platform::MibIpAddrRow* Next(uint32_t* cursor) const;

 private:
  const platform::MibIpAddrTable* table_;
  ListIndex rows_;
};

class CMiniportList {
 public:
  CMiniportList();
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
  // row, or for the interface's rows when an index covers the table). 0 when the first is
  // not 0.0.0.0; otherwise 2 (reported when the table exists).
  uint32_t GetInterfaceAddresses(uint32_t interfaceIndex, uint32_t* addresses,
                                 const platform::MibIpAddrTable* table,
                                 const IpAddressIndex* index = nullptr) const;
  // Pairs an interface row with a miniport of the list and marks it claimed; null when none
  // fits. A team's own virtual adapter is taken only when its GUID occurs in the interface
  // name; a plain adapter is taken on its station address, once.
  CMiniport* AllocateMiniport(const platform::MibIfRow& row, const platform::MibIpAddrTable* table,
                              const IpAddressIndex* index = nullptr);
  // Whether the row is a team member's own interface: the member adapter (team flags bit 0)
  // with the row's address and its GUID in the row's name. Such a row has no TCP/IP and is
  // published through its team's interfaces, never as one of its own.
  bool IsTeamMemberInterface(const platform::MibIfRow& row) const;
  // Calls visit with every member port (team flags bit 0) of a team, in list order, until
  // visit returns false. Team fields must not change once this has been called.
  template <class Visit>
  void ForEachTeamMember(uint32_t teamIndex, Visit visit) const;

  MINIPORTNODE* Head() const { return list_.Head(); }
  uint32_t Count() const { return count_; }
  // The teams could not be read while team interfaces are present: those were withheld, and
  // the model built from this list is to be rebuilt once the teams can be read.
  bool TeamsPending() const { return teamsPending_; }

 private:
  // One of the two team passes: the first candidate paired, or null.
  CMiniport* PairTeamAdapter(const platform::MibIfRow& row, bool hasAddress, bool virtualAdapters);
  // A candidate of a team pass: its link asked, a fake one reported; the miniport when paired.
  CMiniport* TryTeamCandidate(CMiniport& miniport, const platform::MibIfRow& row, bool hasAddress,
                              bool virtualAdapters);
  // The first miniport, from the head, with this current address for which match holds.
  template <class Match>
  CMiniport* FindByAddress(const uint8_t* address, uint32_t length, Match match) const;
  // Files the list's member ports by team, at the first team look-up.
  void IndexTeamMembers() const;
  // Takes the team interfaces out of pairing (teams unread).
  void WithholdTeamInterfaces();

  SinglyLinkedList<CMiniport> list_;
  uint32_t count_ = 0;
  // Indexes of the list by GUID and by current address, kept as nodes are appended (neither
  // changes once a miniport is in the list), and of the member ports by team.
  ListIndex byGuid_;
  ListIndex byAddress_;
  mutable ListIndex teamMembers_;
  mutable bool teamMembersFiled_ = false;
  bool teamsPending_ = false;
};

uint64_t HashTeamIndex(uint32_t teamIndex);

template <class Visit>
void CMiniportList::ForEachTeamMember(uint32_t teamIndex, Visit visit) const {
  auto isMember = [teamIndex](const CMiniport& m) {
    return (m.TeamFlags() & 1) != 0 && m.TeamIndex() == teamIndex;
  };
  if (!teamMembersFiled_) IndexTeamMembers();
  if (teamMembers_.Usable()) {
    for (uint32_t e = teamMembers_.First(HashTeamIndex(teamIndex)); e != ListIndex::kNone;
         e = teamMembers_.Next(e)) {
      const CMiniport& m = *static_cast<const CMiniport*>(teamMembers_.Value(e));
      if (isMember(m) && !visit(m)) return;
    }
    return;
  }
  for (MINIPORTNODE* node = list_.Head(); node != nullptr; node = node->next) {
    if (isMember(*node->element) && !visit(*node->element)) return;
  }
}

// Whether a miniport's GUID occurs in an interface name, both in the ANSI code page and
// lower case (the operating system names an adapter's interface with a text holding the
// adapter GUID).
bool GuidMatchesInterfaceName(const CMiniport& miniport, const char16_t* interfaceName);

}  // namespace crv

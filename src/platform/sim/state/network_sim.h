// The simulated machine's network interfaces: the rows of the interface table with their
// counters, the IPv4 address table, and what the adapter addresses list tells of each
// interface (adapter name, connection name, IPv6 addresses).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/ip_helper.h"

namespace sim {

struct SimIpv4Address {
  uint32_t address = 0;  // network byte order, as the table holds it
  uint32_t mask = 0;
};

struct SimInterface {
  platform::MibIfRow row{};  // dwIndex, dwType, counters, bDescr ... as GetIfTable answers
  std::string adapterName;   // "{GUID}", 8-bit as IP_ADAPTER_ADDRESSES carries it
  std::u16string friendlyName;
  std::vector<SimIpv4Address> ipv4;
  std::vector<std::u16string> ipv6;  // address texts, e.g. "fe80::1%12"
  // What MIB_IF_ROW2 tells of the row (GetIfEntry2): a physical adapter's own interface, or
  // the interface of an NDIS filter bound to one.
  bool hardware = false;
  bool filter = false;
  // What the 64-bit counters of MIB_IF_ROW2 hold beyond the row's 32-bit ones: the wraps of
  // the row's counters that traffic made (GetIfEntry2 answers the row's count plus this).
  struct WrappedCounts {
    uint64_t inOctets = 0;
    uint64_t outOctets = 0;
    uint64_t inUcastPkts = 0;
    uint64_t outUcastPkts = 0;
  } wrapped;
  // Whether TCP/IP is bound to the interface: only those are IP interfaces, the ones
  // NotifyIpInterfaceChange reports (not a team's member adapters, not filter rows).
  bool ipBinding = true;
  std::u16string filteredAdapter;  // a filter row: the GUID of the adapter it is bound to
};

class SimNetwork {
 public:
  // Interfaces in the order the system lists them (GetIfTable without sorting).
  std::vector<SimInterface>& interfaces() { return interfaces_; }
  const std::vector<SimInterface>& interfaces() const { return interfaces_; }

  void Add(SimInterface interface) { interfaces_.push_back(std::move(interface)); }
  bool Remove(uint32_t index);
  // Removes the filter rows bound to the adapter.
  void RemoveFiltersOf(std::u16string_view adapterGuid);
  // An index no interface has, from kFirstSystemIndex on and above every index in use, for
  // rows the system numbers itself (filter rows); scenarios number their own below it.
  static constexpr uint32_t kFirstSystemIndex = 100001;
  uint32_t UnusedIndex() const;
  // What Remove(index) and RemoveFiltersOf(adapterGuid) do (index not 0), in one pass over the
  // table, which on a server of thousands of adapters is the cost of adding one; returns the
  // highest index left in use, at least kFirstSystemIndex - 1 (UnusedIndex less one).
  uint32_t RemoveAdapterRows(uint32_t index, std::u16string_view adapterGuid);
  // The first interface of this index. Found through the positions the interfaces had when
  // last looked at, checked and taken again when the list has changed since.
  SimInterface* Find(uint32_t index);

  // The interface table as GetIfTable fills it.
  std::vector<platform::MibIfRow> Rows(bool sorted) const;
  // The IPv4 address table, interfaces in order, each interface's addresses in order.
  std::vector<platform::MibIpAddrRow> AddressRows(bool sorted) const;

 private:
  void TakePositions();

  std::vector<SimInterface> interfaces_;
  std::unordered_map<uint32_t, size_t> positions_;  // interface index to place in the list
};

// "00-1B-21-AA-BB-01" or "00:1b:21:aa:bb:01" into bytes; false when malformed.
bool ParseMacAddress(const std::string& text, std::vector<uint8_t>* bytes);
// Dotted IPv4 text into network byte order; false when malformed.
bool ParseIpv4(const std::u16string& text, uint32_t* address);
// IPv6 text (with an optional "%scope") into 16 bytes and a scope id.
bool ParseIpv6(const std::u16string& text, uint8_t bytes[16], uint32_t* scope);
// The shortest form of an IPv6 address, with "%scope" when the scope is not 0.
std::u16string FormatIpv6(const uint8_t bytes[16], uint32_t scope);

}  // namespace sim

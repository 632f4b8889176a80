// What the system answers the same way for every interface of one publication cycle, read
// once per cycle instead of once per interface or port: the adapter addresses list (IPv6
// family) that the connection information of every interface searches, and the network
// class key whose subkeys every port's speed and duplex configuration searches by
// NetCfgInstanceID. Both are searched through indexes.
//
// A snapshot lives for one cycle only, so the system is asked again every cycle. The cycle
// hands it to each interface's refresh, which hands it on to the ports; a refresh given none
// (outside a cycle, or with the list indexes switched off) asks the system itself. What the
// snapshot read is kept only when it was read without a failure; otherwise every caller asks
// the system as it would without a snapshot, and so meets (and reports) the failure itself.
#pragma once

#include <cstdint>

#include "common/list_index.h"
#include "platform/ip_helper.h"

namespace crv {

class CRegistryKey;

class CycleSnapshot {
 public:
  CycleSnapshot() = default;
  CycleSnapshot(const CycleSnapshot&) = delete;
  CycleSnapshot& operator=(const CycleSnapshot&) = delete;
  ~CycleSnapshot();

  // Calls visit(entry) for every entry of this cycle's adapter addresses list whose adapter
  // name equals name (as the connection lookup compares it) and that has a first unicast
  // address, in list order. The list is read at the first call of the cycle; a read that
  // fails visits nothing, as the caller's own read would, and is tried again at the next call.
  template <class Visit>
  void ForEachAdapterNamed(const char16_t* name, Visit visit);

  // The network class subkey whose NetCfgInstanceID equals guid (the first, in enumeration
  // order), opened with KEY_READ without a report. False when the class key could not be read
  // whole this cycle or the subkey does not open now: the caller then searches itself.
  // *found is false when no subkey has that GUID.
  bool OpenClassSubkey(const char16_t* guid, bool* found, CRegistryKey** subkey);

 private:
  bool ReadAdapterAddresses();
  bool ReadClassKey();
  // Appends a text to the pool; its offset, or kNone when the pool cannot grow.
  uint32_t Keep(const char16_t* text);
  const char16_t* Text(uint32_t offset) const { return pool_ + offset; }

  enum class Read { kNotYet, kDone, kFailed };
  platform::IpAdapterAddresses* addresses_ = nullptr;
  ListIndex addressesByName_;
  Read classKeyRead_ = Read::kNotYet;
  CRegistryKey* classKey_ = nullptr;
  ListIndex subkeysByInstanceId_;  // values: pool offsets of "name\0instance id\0"
  char16_t* pool_ = nullptr;
  uint32_t poolUsed_ = 0;
  uint32_t poolSize_ = 0;
};

// The adapter addresses list of the IPv6 family, in a block the caller frees with FreeBlock:
// a first buffer of 448 bytes, then one of the size the system asks for. Null when it
// cannot be read.
platform::IpAdapterAddresses* ReadIpv6AdapterAddresses();

// Whether an adapter name of the adapter addresses list (8-bit) equals a UTF-16 name,
// without regard to case; names of 64 characters or more never match.
bool AdapterNameEquals(const char* adapterName, const char16_t* name);

template <class Visit>
void CycleSnapshot::ForEachAdapterNamed(const char16_t* name, Visit visit) {
  if (addresses_ == nullptr && !ReadAdapterAddresses()) return;
  auto named = [name](const platform::IpAdapterAddresses& a) {
    return AdapterNameEquals(a.AdapterName, name) && a.FirstUnicastAddress != nullptr;
  };
  if (!addressesByName_.Usable()) {
    for (auto* a = addresses_; a != nullptr; a = a->Next) {
      if (named(*a)) visit(*a);
    }
    return;
  }
  for (uint32_t e = addressesByName_.First(HashFoldedText(name)); e != ListIndex::kNone;
       e = addressesByName_.Next(e)) {
    auto& a = *static_cast<platform::IpAdapterAddresses*>(addressesByName_.Value(e));
    if (named(a)) visit(a);
  }
}

}  // namespace crv

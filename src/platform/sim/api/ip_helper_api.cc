// GetIfTable and friends over the simulated network, with the size-first protocol of the
// real calls, and the Winsock calls the agent makes.
#include <algorithm>
#include <cstring>

#include "platform/sim/api/apis.h"
#include "platform/sim/api/interface_notify_sim.h"
#include "platform/sim/api/machine_internals.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

using namespace platform;

constexpr int32_t kSocketError = -1;
constexpr uint32_t kWsaEFault = 10014;
constexpr uint32_t kWsaEAfNoSupport = 10047;
constexpr uint32_t kWsaNotInitialised = 10093;
constexpr uint32_t kSockaddrIn6Size = 28;
constexpr uint32_t kSockaddrInSize = 16;
constexpr uint32_t kOperStatusOperational = 5;  // IF_OPER_STATUS_OPERATIONAL in MIB_IFROW

size_t Align8(size_t n) { return (n + 7) & ~size_t{7}; }

class IpHelperApi : public IpHelper {
 public:
  explicit IpHelperApi(Machine& machine) : machine_(machine), internals_(machine) {}

  uint32_t GetIfTable(MibIfTable* table, uint32_t* size, bool sorted) override {
    if (auto fault = internals_.CheckFault(FaultCall::kGetIfTable)) return *fault;
    if (size == nullptr) return kErrorInvalidParameter;
    auto rows = machine_.network().Rows(sorted);
    auto needed = static_cast<uint32_t>(std::max(MibIfTableSize(rows.size()), sizeof(MibIfTable)));
    if (table == nullptr || *size < needed) {
      *size = needed;
      return kErrorInsufficientBuffer;
    }
    table->dwNumEntries = static_cast<uint32_t>(rows.size());
    if (!rows.empty()) std::memcpy(table->table, rows.data(), rows.size() * sizeof(MibIfRow));
    return 0;
  }

  uint32_t GetIpAddrTable(MibIpAddrTable* table, uint32_t* size, bool sorted) override {
    if (auto fault = internals_.CheckFault(FaultCall::kGetIpAddrTable)) return *fault;
    if (size == nullptr) return kErrorInvalidParameter;
    auto rows = machine_.network().AddressRows(sorted);
    auto needed =
        static_cast<uint32_t>(std::max(MibIpAddrTableSize(rows.size()), sizeof(MibIpAddrTable)));
    if (table == nullptr || *size < needed) {
      *size = needed;
      return kErrorInsufficientBuffer;
    }
    table->dwNumEntries = static_cast<uint32_t>(rows.size());
    if (!rows.empty()) std::memcpy(table->table, rows.data(), rows.size() * sizeof(MibIpAddrRow));
    return 0;
  }

  uint32_t GetIfEntry(MibIfRow* row) override {
    if (auto fault = internals_.CheckFault(FaultCall::kGetIfEntry)) return *fault;
    if (row == nullptr) return kErrorInvalidParameter;
    const SimInterface* interface = machine_.network().Find(row->dwIndex);
    if (interface == nullptr) return kErrorInvalidData;
    *row = interface->row;
    return 0;
  }

  uint32_t GetIfEntry2(IfRow2Flags* row) override {
    if (auto fault = internals_.CheckFault(FaultCall::kGetIfEntry2)) return *fault;
    if (row == nullptr || row->interfaceIndex == 0) return kErrorInvalidParameter;
    const SimInterface* interface = machine_.network().Find(row->interfaceIndex);
    if (interface == nullptr) return kErrorFileNotFound;
    row->type = interface->row.dwType;
    row->hardwareInterface = interface->hardware;
    row->filterInterface = interface->filter;
    // NDIS keeps the interface's media state as the miniport last indicated it, so the answer
    // follows the link at once, members' and filters' rows included.
    row->mediaConnectState = interface->row.dwOperStatus == kOperStatusOperational
                                 ? kMediaConnectStateConnected
                                 : kMediaConnectStateDisconnected;
    const MibIfRow& r = interface->row;
    row->inOctets = r.dwInOctets + interface->wrapped.inOctets;
    row->outOctets = r.dwOutOctets + interface->wrapped.outOctets;
    row->inUcastPkts = r.dwInUcastPkts + interface->wrapped.inUcastPkts;
    row->outUcastPkts = r.dwOutUcastPkts + interface->wrapped.outUcastPkts;
    row->inNUcastPkts = r.dwInNUcastPkts;
    row->outNUcastPkts = r.dwOutNUcastPkts;
    row->inErrors = r.dwInErrors;
    row->outErrors = r.dwOutErrors;
    row->inDiscards = r.dwInDiscards;
    row->outDiscards = r.dwOutDiscards;
    return 0;
  }

  uint32_t NotifyIpInterfaceChange(uint16_t family, IpInterfaceChangeCallback callback,
                                   void* context, bool initialNotification,
                                   Handle* notification) override {
    return machine_.interfaceNotifier().Register(family, callback, context, initialNotification,
                                                 notification);
  }

  uint32_t CancelMibChangeNotify2(Handle notification) override {
    return machine_.interfaceNotifier().Cancel(notification);
  }

  uint32_t GetAdaptersAddresses(uint32_t family, uint32_t, IpAdapterAddresses* buffer,
                                uint32_t* size) override {
    if (auto fault = internals_.CheckFault(FaultCall::kGetAdaptersAddresses)) return *fault;
    if (size == nullptr) return kErrorInvalidParameter;
    const auto& interfaces = machine_.network().interfaces();
    if (interfaces.empty()) return kErrorNoData;
    // Each entry: the structure, its unicast addresses with their socket addresses, then
    // its texts; every piece 8-byte aligned, everything inside the caller's buffer.
    auto addressesOf = [&](const SimInterface& i) {
      std::vector<std::vector<uint8_t>> sockaddrs;
      if (family == kAfInet6 || family == 0) {
        for (const auto& text : i.ipv6) sockaddrs.push_back(SockaddrIn6(text));
      }
      if (family == kAfInet || family == 0) {
        for (const auto& a : i.ipv4) sockaddrs.push_back(SockaddrIn(a.address));
      }
      return sockaddrs;
    };
    size_t needed = 0;
    for (const auto& i : interfaces) {
      needed += Align8(sizeof(IpAdapterAddresses));
      for (const auto& s : addressesOf(i)) {
        needed += Align8(sizeof(IpAdapterUnicastAddress)) + Align8(s.size());
      }
      needed += Align8(i.adapterName.size() + 1) + Align8((i.friendlyName.size() + 1) * 2) +
                Align8(2) * 2;  // empty description and DNS suffix
    }
    if (buffer == nullptr || *size < needed) {
      *size = static_cast<uint32_t>(needed);
      return kErrorBufferOverflow;
    }
    auto* cursor = reinterpret_cast<uint8_t*>(buffer);
    std::memset(cursor, 0, needed);
    auto take = [&](size_t bytes) {
      uint8_t* at = cursor;
      cursor += Align8(bytes);
      return at;
    };
    IpAdapterAddresses* previous = nullptr;
    for (const auto& i : interfaces) {
      auto* entry = reinterpret_cast<IpAdapterAddresses*>(take(sizeof(IpAdapterAddresses)));
      entry->Length = sizeof(IpAdapterAddresses);
      entry->IfIndex = i.row.dwIndex;
      if (previous != nullptr) previous->Next = entry;
      previous = entry;
      IpAdapterUnicastAddress* lastUnicast = nullptr;
      for (const auto& s : addressesOf(i)) {
        auto* unicast =
            reinterpret_cast<IpAdapterUnicastAddress*>(take(sizeof(IpAdapterUnicastAddress)));
        unicast->Length = sizeof(IpAdapterUnicastAddress);
        uint8_t* sockaddr = take(s.size());
        std::memcpy(sockaddr, s.data(), s.size());
        unicast->Address.lpSockaddr = sockaddr;
        unicast->Address.iSockaddrLength = static_cast<int32_t>(s.size());
        (lastUnicast ? lastUnicast->Next : entry->FirstUnicastAddress) = unicast;
        lastUnicast = unicast;
      }
      entry->AdapterName = reinterpret_cast<char*>(take(i.adapterName.size() + 1));
      std::memcpy(entry->AdapterName, i.adapterName.c_str(), i.adapterName.size() + 1);
      entry->FriendlyName = reinterpret_cast<char16_t*>(take((i.friendlyName.size() + 1) * 2));
      std::memcpy(entry->FriendlyName, i.friendlyName.c_str(), (i.friendlyName.size() + 1) * 2);
      entry->Description = reinterpret_cast<char16_t*>(take(2));
      entry->DnsSuffix = reinterpret_cast<char16_t*>(take(2));
    }
    return 0;
  }

  int32_t WSAStartup(uint16_t) override {
    if (auto fault = internals_.CheckFault(FaultCall::kWSAStartup))
      return static_cast<int32_t>(*fault);
    ++winsockUsers_;
    return 0;
  }

  int32_t WSACleanup() override {
    if (auto fault = internals_.CheckFault(FaultCall::kWSACleanup)) return Fail(*fault);
    if (winsockUsers_ == 0) return Fail(kWsaNotInitialised);
    --winsockUsers_;
    return 0;
  }

  int32_t WSAAddressToString(const void* address, uint32_t addressLength, char16_t* text,
                             uint32_t* length) override {
    if (auto fault = internals_.CheckFault(FaultCall::kWSAAddressToStringW)) return Fail(*fault);
    if (winsockUsers_ == 0) return Fail(kWsaNotInitialised);
    if (address == nullptr || length == nullptr) return Fail(kWsaEFault);
    const auto* bytes = static_cast<const uint8_t*>(address);
    uint16_t family = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
    std::u16string out;
    if (family == kAfInet6 && addressLength >= kSockaddrIn6Size) {
      uint32_t scope;
      std::memcpy(&scope, bytes + 24, 4);
      out = FormatIpv6(bytes + 8, scope);
    } else if (family == kAfInet && addressLength >= kSockaddrInSize) {
      std::string dotted = std::to_string(bytes[4]) + "." + std::to_string(bytes[5]) + "." +
                           std::to_string(bytes[6]) + "." + std::to_string(bytes[7]);
      out.assign(dotted.begin(), dotted.end());
    } else {
      return Fail(kErrorInvalidParameter);
    }
    uint32_t needed = static_cast<uint32_t>(out.size() + 1);
    if (text == nullptr || *length < needed) {
      *length = needed;
      return Fail(kWsaEFault);
    }
    std::memcpy(text, out.c_str(), needed * sizeof(char16_t));
    *length = needed;
    return 0;
  }

  int32_t InetPton(int32_t family, const char16_t* text, void* address) override {
    if (auto fault = internals_.CheckFault(FaultCall::kInetPtonW)) return Fail(*fault);
    if (text == nullptr || address == nullptr) return Fail(kWsaEFault);
    if (family == kAfInet) {
      uint32_t value = 0;
      if (!ParseIpv4(text, &value)) return 0;
      std::memcpy(address, &value, 4);
      return 1;
    }
    if (family == kAfInet6) {
      uint8_t bytes[16];
      uint32_t scope = 0;
      std::u16string t = text;
      if (t.find(u'%') != std::u16string::npos || !ParseIpv6(t, bytes, &scope)) return 0;
      std::memcpy(address, bytes, 16);
      return 1;
    }
    return Fail(kWsaEAfNoSupport);
  }

 private:
  int32_t Fail(uint32_t error) {
    internals_.SetLastError(error);
    return kSocketError;
  }

  static std::vector<uint8_t> SockaddrIn6(const std::u16string& text) {
    std::vector<uint8_t> s(kSockaddrIn6Size, 0);
    s[0] = static_cast<uint8_t>(kAfInet6);
    uint32_t scope = 0;
    if (ParseIpv6(text, s.data() + 8, &scope)) std::memcpy(s.data() + 24, &scope, 4);
    return s;
  }

  static std::vector<uint8_t> SockaddrIn(uint32_t address) {
    std::vector<uint8_t> s(kSockaddrInSize, 0);
    s[0] = static_cast<uint8_t>(kAfInet);
    std::memcpy(s.data() + 4, &address, 4);
    return s;
  }

  Machine& machine_;
  MachineInternals internals_;
  uint32_t winsockUsers_ = 0;
};

}  // namespace

std::unique_ptr<platform::IpHelper> NewIpHelperApi(Machine& machine) {
  return std::make_unique<IpHelperApi>(machine);
}

}  // namespace sim

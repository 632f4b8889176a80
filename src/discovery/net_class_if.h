// The network adapters the agent manages, as NDIS LAN device interfaces: every present
// device of the network adapter setup class whose first NDIS LAN interface path shows a
// physical adapter, an adapter of a supported virtual bus driver or an accepted software
// adapter. The list lives only while the miniport list is built.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/slist.h"

namespace crv {

// The network adapter setup class, as the configuration manager's class filter takes it.
inline constexpr char16_t kNetClassFilter[] = u"{4d36e972-e325-11ce-bfc1-08002be10318}";

// A device interface detail record (SP_DEVICE_INTERFACE_DETAIL_DATA_W): a size field holding
// 8, then the terminated device interface path.
struct DeviceInterfaceDetail {
  uint32_t cbSize;
  char16_t devicePath[1];
};
constexpr uint32_t kDeviceInterfaceDetailCbSize = 8;

// Whether a lower-case device interface path belongs to an adapter the agent manages.
bool IsManagedInterfacePath(const char16_t* lowerCasePath);
// Whether a lower-case device interface path is a team interface of NIC Teaming (the
// multiplexor driver's device).
bool IsTeamMultiplexorPath(const char16_t* lowerCasePath);

class CNetClassIf {
 public:
  // Takes ownership of the record (freed with FreeBlock by the destructor). The GUID text is
  // the path after its last backslash.
  explicit CNetClassIf(DeviceInterfaceDetail* detail);
  CNetClassIf(const CNetClassIf&) = delete;
  CNetClassIf& operator=(const CNetClassIf&) = delete;
  virtual ~CNetClassIf();

  // The adapter GUID in braces, lower case (points into the record).
  const char16_t* GetGuidText() const { return guidText_; }
  // Bytes of the path with its terminator.
  size_t PathSize() const { return pathSize_; }
  // Bytes needed for "\\.\" and the GUID text, with room to spare.
  size_t DeviceNameSize() const { return deviceNameSize_; }
  const char16_t* Path() const { return detail_->devicePath; }

  // Writes "\\.\" and the GUID text into a buffer of DeviceNameSize bytes; 0, or 0x84350101
  // for a null buffer.
  uint32_t CopyDeviceName(char16_t* buffer) const;
  // Copies the path into a buffer of PathSize bytes; 0, or 0x84350101 for a null buffer.
  uint32_t CopyPath(char16_t* buffer) const;

 private:
  uint64_t pathSize_ = 0;
  uint64_t deviceNameSize_ = 0;
  const char16_t* guidText_ = nullptr;
  DeviceInterfaceDetail* detail_ = nullptr;
};

using NETCLASSIFNODE = ListNode<CNetClassIf>;

class CNetClassIfList {
 public:
  CNetClassIfList() = default;
  CNetClassIfList(const CNetClassIfList&) = delete;
  CNetClassIfList& operator=(const CNetClassIfList&) = delete;
  virtual ~CNetClassIfList() = default;

  // Fills the list from the configuration manager. Returns the status of the last device
  // examined (of no use to the caller).
  uint32_t Enumerate();
  // A new node owning a new interface made from the record, or null (the record is then
  // freed). Ownership of the record passes in either case.
  NETCLASSIFNODE* AllocateCNetClassNode(DeviceInterfaceDetail* detail);

  NETCLASSIFNODE* Head() const { return list_.Head(); }
  uint32_t Count() const { return count_; }

 private:
  // Examines one device instance: its first NDIS LAN interface path, lower-cased, appended
  // when the path rule accepts it.
  uint32_t AddDevice(const char16_t* deviceId);

  SinglyLinkedList<CNetClassIf> list_;
  uint32_t count_ = 0;
};

}  // namespace crv

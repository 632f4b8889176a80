// The PnP location of the network adapters: for every present network adapter of a managed
// kind, where it sits (PCI slot, bus, device, function, Mellanox port), the slot number shown
// to the user (UI number), its PCI identifiers, driver service name, display name and the
// adapter GUID (NetCfgInstanceId) by which it is matched with its miniport. Built once per
// model build.
#pragma once

#include <cstdint>

#include "common/list_index.h"
#include "common/slist.h"
#include "platform/config_manager.h"

namespace crv {

class CMiniport;

constexpr uint32_t kUnknownUiNumber = 0xFFFFFFFFu;
constexpr uint32_t kNoPort = 0xFFFFFFFFu;

// What GetPciInfo hands out.
struct PciInfo {
  uint32_t ioBase;
  uint32_t memoryBase;
  uint32_t resourceValue;
  uint32_t uiNumber;
  uint32_t slot;
  uint32_t bus;
  uint32_t device;
  uint32_t function;
  uint32_t port;
  uint32_t pciId;
  uint32_t subsystemId;
  const char16_t* displayName;  // borrowed from the adapter record
};

class CWin32NetAdapter {
 public:
  static constexpr uint32_t kBaseAddressSlots = 6;

  CWin32NetAdapter() = default;
  CWin32NetAdapter(const CWin32NetAdapter&) = delete;
  CWin32NetAdapter& operator=(const CWin32NetAdapter&) = delete;
  // Frees the owned texts.
  virtual ~CWin32NetAdapter();

  // Fills the record from the PnP tree; true when the adapter is kept.
  bool Init(const char16_t* deviceInstanceId);
  // A new copy of the service name that the caller frees with FreeBlock; false when the
  // adapter has none or the copy cannot be allocated (reported).
  bool GetServiceName(char16_t** serviceName) const;
  void GetPciInfo(PciInfo* info) const;

  const char16_t* ServiceName() const { return serviceName_; }
  const char16_t* InstanceId() const { return instanceId_; }
  const char16_t* DisplayName() const { return displayName_; }
  const char16_t* Guid() const { return guid_; }
  uint32_t Slot() const { return slot_; }
  uint32_t Bus() const { return bus_; }
  uint32_t Device() const { return device_; }
  uint32_t Function() const { return function_; }
  uint32_t UiNumber() const { return uiNumber_; }
  uint32_t Port() const { return port_; }
  uint32_t PciId() const { return pciId_; }
  uint32_t SubsystemId() const { return subsystemId_; }

 private:
  // What Init learns on the way and does not keep.
  struct Discovery {
    platform::DevInst devInst = 0;
    bool mellanox = false;
    char16_t* location = nullptr;  // owned while Init runs
    uint32_t locationPort = kNoPort;
  };
  // Steps that run only when the service name could be read; false when the adapter is not
  // kept.
  bool ReadIdentity(const char16_t* deviceInstanceId, Discovery& found);
  // Location, UI number, identifiers and display name of a Solarflare adapter, from its
  // parent PCI function.
  void ReadSolarflareParent(const Discovery& found);
  // The parent's UI number and identifiers, and the port's own location text.
  void ReadMellanoxParent(Discovery& found);
  // The PCI identifiers from the parent's hardware ID, when it is of the PCI form.
  void ReadParentPciIdentifiers(platform::DevInst parent);
  void ReadNetCfgInstanceId(platform::DevInst devInst);
  // The UI number from the PCI function whose ParentIdPrefix starts this adapter's instance
  // part, searched in the Enum keys; 0 when none is found.
  uint32_t FindUiNumberInEnum() const;
  bool ReadInstanceIndex(platform::DevInst devInst, uint32_t* instanceIndex) const;

  char16_t* serviceName_ = nullptr;
  char16_t* instanceId_ = nullptr;  // upper case
  uint32_t resourceValue_ = 0xFFFFFFFFu;
  uint32_t baseAddresses_[kBaseAddressSlots] = {};
  uint32_t baseAddressCount_ = 0;
  uint32_t slot_ = 0;
  uint32_t bus_ = 0;
  uint32_t device_ = 0;
  uint32_t function_ = 0;
  uint32_t uiNumber_ = kUnknownUiNumber;
  uint32_t port_ = kNoPort;
  uint32_t pciId_ = 0;
  uint32_t subsystemId_ = 0;
  char16_t* displayName_ = nullptr;
  char16_t* guid_ = nullptr;
};

using WIN32NETADAPTERNODE = ListNode<CWin32NetAdapter>;

class CWin32NetAdapterList {
 public:
  CWin32NetAdapterList();
  CWin32NetAdapterList(const CWin32NetAdapterList&) = delete;
  CWin32NetAdapterList& operator=(const CWin32NetAdapterList&) = delete;
  // Deletes every node with its adapter.
  virtual ~CWin32NetAdapterList();

  // Records every present network adapter of a managed kind; false only when the device
  // list could not be read (reported).
  bool Init();
  // The adapter whose GUID equals the miniport's, ignoring case; null when none.
  const CWin32NetAdapter* FindByMiniport(const CMiniport& miniport) const;
  // Fills info from the adapter of the miniport; false when there is none.
  bool GetPciInfo(const CMiniport& miniport, PciInfo* info) const;
  // A new copy of the driver service name of the miniport's adapter (freed by the caller
  // with FreeBlock); false when there is no adapter or no copy.
  bool GetServiceName(const CMiniport& miniport, char16_t** serviceName) const;

  WIN32NETADAPTERNODE* Head() const { return list_.Head(); }
  uint32_t Count() const { return count_; }

 private:
  char16_t* deviceIds_ = nullptr;  // only while Init runs
  uint32_t count_ = 0;
  SinglyLinkedList<CWin32NetAdapter> list_;
  ListIndex byGuid_;  // the adapters with a GUID, in list order
};

}  // namespace crv

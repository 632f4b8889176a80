// One physical port under a logical adapter: where it sits (PCI location, slot), what it is
// (PCI identifiers, part number, firmware, driver), and once per cycle its link, duplex,
// speed, configured speed and duplex, octets and Ethernet error counters, published as one
// PhysAdapter record. Each cycle it also decides whether its link change is trap-pending.
#pragma once

#include <cstdint>

#include "model/adapter.h"
#include "publish/records.h"
#include "trap/trap.h"

namespace crv {

class CLogicalAdapter;
class CTrap;
class CycleSnapshot;
class CWin32NetAdapterList;

class CPhysicalAdapter : public CAdapter {
 public:
  static constexpr uint32_t kDisplayNameChars = 258;

  CPhysicalAdapter();
  ~CPhysicalAdapter() override;

  // Copies the port's miniport and numbers the port; 0 or the system error.
  uint32_t Init(const CMiniport& miniport, CLogicalAdapter* owner, uint32_t ifType, CTrap* trap);
  // Reads the port's PnP record: location, identifiers, carried link condition, driver
  // family and part number; the MAC address becomes miniport's permanent address. True
  // when the record was found and its service name read.
  bool InitLocation(const CWin32NetAdapterList& pnpList, const CMiniport& miniport);
  // One cycle for the port (at most once per cycle); 0 or an error code. cycle as for
  // CLogicalAdapter::Refresh.
  uint32_t Refresh(uint32_t* speed, CycleSnapshot* cycle);
  // Writes the port record.
  uint32_t Publish() override;

  // The Ethernet counters of the driver into the record, and the error sums made of them.
  void GetEthernetStats();
  // The speed and duplex configuration code of the adapter with this GUID, found through the
  // cycle's class key when there is one (null: the port searches the key itself).
  uint32_t GetSpeedDuplexConfig(const char16_t* guid, CycleSnapshot* cycle);

  const PhysAdapterRecord& Record() const { return record_; }
  uint32_t PortNumber() const { return record_.portNumber; }
  uint32_t SlotNumber() const { return record_.slotNumber; }
  void SetSlotNumber(uint32_t slot) { record_.slotNumber = slot; }
  void SetPortInCard(uint8_t port) { record_.portInCard = port; }
  void SetInventoryValues(uint32_t first, uint32_t second) {
    record_.inventoryValue1 = first;
    record_.inventoryValue2 = second;
  }
  uint32_t LocationSlot() const { return slot_; }
  uint32_t Bus() const { return bus_; }
  uint32_t Device() const { return device_; }
  uint32_t Function() const { return function_; }
  uint32_t Port() const { return port_; }
  uint8_t LinkCondition() const { return record_.linkCondition; }
  bool TrapPending() const { return trapPending_ != 0; }
  PortIdentity Identity() const;
  // The identity the port's condition record is filed under with the trap sink: the one it
  // had when its condition was carried, before the platform inventory may change its slot,
  // so that later stores and the next rebuild's carry find the same record.
  PortIdentity TrapIdentity() const { return carried_ ? carriedAs_ : Identity(); }

 private:
  // Whether the link change of this cycle is trap-pending; stores the new condition with
  // the trap sink.
  void ApplyTrapRule(uint8_t previous);
  // Takes the port's last condition from the trap sink, filed under its identity as it is now.
  void CarryCondition();
  void UpdateStartupLinkTable();

  CLogicalAdapter* owner_ = nullptr;  // not owned
  PhysAdapterRecord record_{};
  uint32_t slot_ = 0;
  uint8_t bus_ = 0;
  uint32_t device_ = 0;
  uint32_t function_ = 0;
  uint32_t port_ = 0;
  char16_t displayName_[kDisplayNameChars] = {};
  uint32_t trapPending_ = 0;
  CTrap* trap_ = nullptr;  // not owned
  PortIdentity carriedAs_{};
  bool carried_ = false;
  // Not located at the last build, with a condition carried from before: its link is read
  // from the connect state (its driver family is unknown).
  bool linkFromConnectState_ = false;
  uint32_t reserved_ = 0xFFFFFFFFu;
  uint32_t cycle_ = 0;  // the cycle counter of the last refresh
};

}  // namespace crv

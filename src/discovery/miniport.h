// CMiniport: the agent's record of one NDIS miniport (one network adapter instance as the
// network stack sees it), and the only place where the agent talks to a network driver. Every
// query opens the device \\.\{GUID}, sends one OID and closes the device again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/ndis.h"
#include "platform/types.h"

namespace crv {

// Link status codes.
constexpr uint32_t kLinkUnknown = 1;
constexpr uint32_t kLinkOk = 2;
constexpr uint32_t kLinkFailure = 4;

// Duplex codes.
constexpr uint32_t kDuplexUnknown = 1;
constexpr uint32_t kDuplexHalf = 2;
constexpr uint32_t kDuplexFull = 3;

// The standard NDIS object identifiers the agent sends are platform/ndis.h's; these are
// driver-private ones.
constexpr uint32_t kOidPrivateDeviceName = 0xFF0201A9;    // name of the private query device
constexpr uint32_t kOidPrivateDirectAnswer = 0xFF0201D3;  // also answered by the miniport
constexpr uint32_t kOidPrivateDuplex = 0xFF0201EA;
constexpr uint32_t kOidCountersLink = 0xFF020306;
constexpr uint32_t kOidCountersDuplex = 0xFF020319;
constexpr uint32_t kOidVendorDuplex = 0xFF01010D;
// Bit 8 of an OID marks the identifiers every miniport must answer; only their failures are
// reported.
constexpr uint32_t kOidMandatoryBit = 0x100;

// A miniport's team flags: a member port of a team, the team's own interface.
constexpr uint32_t kTeamFlagMember = 0x1;
constexpr uint32_t kTeamFlagTeamInterface = 0x2;

// The driver's private query channel.
constexpr uint32_t kIoctlPrivateQuery = 0x00172800;
constexpr uint32_t kPrivateRequestHeaderSize = 12;  // OID, status, reserved
constexpr uint32_t kPrivateDirectAnswerSize = 72;

// Link information, the result of GetDynamicData.
struct LinkInformation {
  uint32_t linkStatus;
  uint32_t duplex;
  uint32_t speed;  // megabits per second
};

// One entry of QueryCounters: the OID and where its 32-bit answer goes.
struct CounterQuery {
  uint32_t oid;
  uint32_t* destination;
};

// Driver family codes (set by ClassifyDriver from the driver's service name); the family
// selects the link procedure of GetDynamicData.
constexpr uint8_t kFamilyUnclassified = 0;
constexpr uint8_t kFamilyGeneric8023 = 2;

class CMiniport {
 public:
  static constexpr size_t kAddressBytes = 6;
  static constexpr size_t kPartNumberChars = 33;
  static constexpr size_t kFirmwareVersionChars = 32;
  static constexpr uint32_t kNoInterface = 0xFFFFFFFFu;
  static constexpr uint32_t kNoTeam = 0xFFFFFFFFu;

  CMiniport() = default;
  CMiniport(const CMiniport&) = delete;
  // Frees the device name and the GUID.
  virtual ~CMiniport();

  // Copies what identifies the adapter and what was learnt about it; the part number, the
  // firmware version, the link-never-seen flag and the team ports stay the target's. A text
  // that cannot be copied is reported and left empty, and the copy goes on.
  CMiniport& operator=(const CMiniport& other);

  // Keeps the device name (\\.\ and the GUID in braces; deviceNameSize bytes) and its GUID,
  // and learns the medium and, on 802.3, the addresses. 0 when the miniport is usable (802.3
  // or 802.5), otherwise a Win32 error. The interface path plays no further part.
  uint32_t Init(const char16_t* interfacePath, size_t interfacePathSize, const char16_t* deviceName,
                size_t deviceNameSize);

  // One NDIS query with IOCTL_NDIS_QUERY_GLOBAL_STATS: 0, 31 when the device cannot be
  // opened, or the error of the control call (the first failure of a mandatory OID is
  // reported).
  uint32_t QueryInformation(uint32_t oid, void* buffer, uint32_t size, uint32_t* bytesReturned);
  // A query through the driver's private query device; data is sent and answered in place.
  uint32_t QueryPrivateInformation(uint32_t oid, void* data, uint32_t size,
                                   uint32_t* bytesReturned);
  // One 4-byte query per entry; a failed entry leaves its destination alone. Always 0.
  uint32_t QueryCounters(const CounterQuery* entries, uint32_t count);

  // Link status from OID_GEN_MEDIA_CONNECT_STATUS; a driver that rejects it is not asked again.
  uint32_t GetLinkStatus(uint32_t* linkStatus);
  // Link status, duplex and speed by the procedure of the driver family.
  uint32_t GetDynamicData(LinkInformation* info);

  // Copy length bytes (at most the six held) of an address; true when length covers it.
  bool GetCurrentAddress(uint8_t* buffer, uint32_t length) const;
  bool GetPermanentAddress(uint8_t* buffer, uint32_t length) const;
  // True when length is the current address length (not 0) and the bytes are equal.
  bool MatchCurrentAddress(const uint8_t* address, uint32_t length) const;

  const char16_t* DeviceName() const { return deviceName_; }
  size_t DeviceNameSize() const { return deviceNameSize_; }
  // The GUID in braces: the adapter's instance GUID, and the service name by which the vendor
  // management libraries find the adapter.
  const char16_t* Guid() const { return guid_; }
  uint32_t Medium() const { return medium_; }
  uint32_t CurrentAddressLength() const { return currentAddressLength_; }
  uint32_t PermanentAddressLength() const { return permanentAddressLength_; }
  bool QueryFailureSeen() const { return queryFailureSeen_ != 0; }
  bool ConnectStatusSupported() const { return connectStatusSupported_ != 0; }

  uint8_t DriverFamily() const { return driverFamily_; }
  void SetDriverFamily(uint8_t family) { driverFamily_ = family; }
  uint32_t PciId() const { return pciId_; }
  void SetPciId(uint32_t pciId) { pciId_ = pciId; }
  uint32_t SubsystemId() const { return subsystemId_; }
  void SetSubsystemId(uint32_t subsystemId) { subsystemId_ = subsystemId; }
  const char16_t* PartNumber() const { return partNumber_; }
  // A bounded copy: a longer text is cut to the field.
  void SetPartNumber(const char16_t* text);
  // The fallback firmware version text, written in place by the version readers.
  char16_t* FirmwareVersion() { return firmwareVersion_; }

  // Team fields, from Windows NIC Teaming (discovery/lbfo_teams.h); a miniport outside a
  // team keeps the defaults "no team".
  uint32_t TeamFlags() const { return teamFlags_; }
  uint32_t TeamIndex() const { return teamIndex_; }
  uint32_t TeamAttribute() const { return teamAttribute_; }
  uint8_t TeamMemberCount() const { return teamMemberCount_; }
  int32_t TeamPortA() const { return teamPortA_; }
  int32_t TeamPortB() const { return teamPortB_; }
  void SetTeam(uint32_t flags, uint32_t index, uint32_t attribute);
  void SetTeamMembers(uint8_t memberCount, int32_t portA, int32_t portB) {
    teamMemberCount_ = memberCount;
    teamPortA_ = portA;
    teamPortB_ = portB;
  }
  int32_t TeamRole() const { return -1; }

  // Pairing with an operating system interface (the miniport list).
  bool Claimed() const { return claimed_ != 0; }
  uint32_t InterfaceIndex() const { return interfaceIndex_; }
  void Claim(uint32_t interfaceIndex);
  // A team interface of Windows NIC Teaming (its path is the multiplexor driver's device):
  // without the teams' answer it cannot be told apart from its members by address.
  void MarkTeamMultiplexor() { teamMultiplexor_ = true; }
  bool IsTeamMultiplexor() const { return teamMultiplexor_; }
  bool LinkNeverSeen() const { return linkNeverSeen_ != 0; }
  void ClearLinkNeverSeen() { linkNeverSeen_ = 0; }

 private:
  // Opens the miniport's device as every query does, for a caller that owns the handle;
  // kInvalidHandleValue on failure.
  platform::DeviceHandle OpenDevice() const;
  // One control call on the open device, without failure bookkeeping: 0 or the error.
  static uint32_t Control(platform::DeviceHandle device, uint32_t controlCode, const void* input,
                          uint32_t inputSize, void* output, uint32_t outputSize,
                          uint32_t* bytesReturned);
  // An NDIS query without failure bookkeeping: 0, 31 when the device cannot be opened, or
  // the error of the control call (controlFailed then set).
  uint32_t QueryDirect(uint32_t oid, void* buffer, uint32_t size, uint32_t* bytesReturned,
                       bool* controlFailed);
  // The once-per-miniport failure report.
  void NoteQueryFailure(uint32_t oid, uint32_t error);
  // Says which device could not be opened when the miniport was made, with the open's error.
  void ReportUnopenedDevice(uint32_t error) const;
  static constexpr size_t kUnopenedMessageChars = 320;
  uint32_t QueryThroughPrivateDevice(const char16_t* privateName, uint32_t oid, void* data,
                                     uint32_t size, uint32_t* bytesReturned);
  void ReadAddress(uint32_t oid, uint8_t* address, uint32_t* length);

  // Link procedures of the driver families.
  uint32_t LinkStatusOnly(LinkInformation* info);
  uint32_t PrivateCounters(LinkInformation* info);
  uint32_t PrivateDuplexElseLinkState(LinkInformation* info);
  uint32_t VendorDuplex(LinkInformation* info);
  uint32_t FullDuplexWhenLinked(LinkInformation* info);
  uint32_t GetQ57W2KDynamicData(LinkInformation* info);
  uint32_t GetQ579XXDynamicData(LinkInformation* info);
  // OID_GEN_MEDIA_DUPLEX_STATE: true when answered (duplex then set for half and full).
  bool QueryMediaDuplexState(LinkInformation* info);

  char16_t* deviceName_ = nullptr;
  uint64_t deviceNameSize_ = 0;
  uint32_t medium_ = 20;  // NdisMediumMax: not yet known
  uint32_t currentAddressLength_ = 0;
  uint32_t permanentAddressLength_ = 0;
  uint32_t queryFailureSeen_ = 0;
  uint32_t connectStatusSupported_ = 1;
  uint32_t teamFlags_ = 0;
  uint8_t driverFamily_ = 0;
  uint8_t currentAddress_[kAddressBytes] = {};
  uint8_t permanentAddress_[kAddressBytes] = {};
  char16_t partNumber_[kPartNumberChars] = {};
  uint32_t pciId_ = 0;
  uint32_t subsystemId_ = 0;
  char16_t* guid_ = nullptr;
  int32_t teamPortA_ = -1;
  uint8_t teamMemberCount_ = 0;
  int32_t teamPortB_ = 0;
  uint32_t teamIndex_ = kNoTeam;
  uint32_t teamAttribute_ = 0;
  uint32_t claimed_ = 0;
  bool teamMultiplexor_ = false;
  uint32_t linkNeverSeen_ = 1;
  uint32_t interfaceIndex_ = kNoInterface;
  char16_t firmwareVersion_[kFirmwareVersionChars] = {};
};

}  // namespace crv

// The published tree under HKEY_LOCAL_MACHINE\SYSTEM\TessarNetwork: its key paths, value
// names, trap names and codes, and the byte layout of every record the agent writes there.
//
// The management service reads these records byte for byte, so each layout is declared once,
// packed, with its size and every field offset checked at compile time. Integer fields are
// little-endian, which is the machine's own order; text fields are single-byte (ANSI code
// page) strings, zero-terminated inside their fixed field.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "platform/types.h"

namespace crv {

static_assert(std::endian::native == std::endian::little,
              "record integers are written in the machine's order, which must be little-endian");

// --- Keys, relative to HKEY_LOCAL_MACHINE ---------------------------------------------------

inline constexpr char16_t kSystemKeyPath[] = u"SYSTEM";
inline constexpr char16_t kTreeKeyPath[] = u"SYSTEM\\TessarNetwork";
inline constexpr char16_t kInterfaceKeyPath[] = u"SYSTEM\\TessarNetwork\\Interface";
inline constexpr char16_t kLogInterfaceMapKeyPath[] =
    u"SYSTEM\\TessarNetwork\\Interface\\LogInterfaceMap";
inline constexpr char16_t kPhysInterfaceKeyPath[] =
    u"SYSTEM\\TessarNetwork\\Interface\\PhysInterface";
inline constexpr char16_t kVlanInterfaceKeyPath[] =
    u"SYSTEM\\TessarNetwork\\Interface\\VlanInterface";
// Written by another component; the agent only reads it.
inline constexpr char16_t kBridgingInfoKeyPath[] =
    u"SYSTEM\\TessarNetwork\\Interface\\BridgingInfo";
inline constexpr char16_t kEthernetKeyPath[] = u"SYSTEM\\TessarNetwork\\Ethernet";
inline constexpr char16_t kEthernetStatisticsKeyPath[] =
    u"SYSTEM\\TessarNetwork\\Ethernet\\Statistics";

// The same paths relative to SYSTEM, for the writers that open SYSTEM first and create or
// delete below it: UnderSystem(kInterfaceKeyPath) is u"TessarNetwork\\Interface".
constexpr const char16_t* UnderSystem(const char16_t* path) {
  return path + sizeof(u"SYSTEM\\") / sizeof(char16_t) - 1;
}

// --- Value names ---------------------------------------------------------------------------

inline constexpr char16_t kStatusValue[] = u"Status";  // REG_DWORD, tree key
inline constexpr char16_t kInterfaceDataReadyValue[] = u"InterfaceData_Ready";  // REG_DWORD
// When the last cycle finished: REG_QWORD, UTC as a FILETIME (the clock of the trap records'
// names). With the poll interval in MibStats it tells a stalled agent from a quiet one.
inline constexpr char16_t kInterfaceDataCycleTimeValue[] = u"InterfaceData_CycleTime";
inline constexpr char16_t kIfTableInformationValue[] = u"IfTableInformation";  // 1 byte
inline constexpr char16_t kMibStatsValue[] = u"MibStats";  // Interface and Ethernet keys
inline constexpr char16_t kSoftwareRevisionsValue[] = u"SoftwareRevisions";
inline constexpr char16_t kBridgeConnectionNameValue[] = u"BridgeConnectionName";  // REG_SZ
inline constexpr char16_t kBridgeIfTableIndexValue[] = u"BridgeIfTableIndex";      // REG_DWORD

// Prefixes of the numbered values; the number is the record's first field.
inline constexpr char16_t kInterfaceMapPrefix[] = u"InterfaceMap";  // under LogInterfaceMap
inline constexpr char16_t kPhysAdapterPrefix[] = u"PhysAdapter";    // under PhysInterface
inline constexpr char16_t kVlanMapPrefix[] = u"VlanMap";            // under VlanInterface
inline constexpr char16_t kStatisticsPrefix[] = u"Statistics";      // under Ethernet\Statistics
inline constexpr char16_t kTrapDataPrefix[] = u"TrapData";          // under a trap key

// --- Traps ---------------------------------------------------------------------------------

// Trap codes (the trap record's first field).
inline constexpr uint32_t kTrapConnectivityLost = 11;
inline constexpr uint32_t kTrapConnectivityRegained = 12;
inline constexpr uint32_t kTrapRedundancyIncreased = 13;
inline constexpr uint32_t kTrapRedundancyReduced = 14;

// Trap key names, directly under the tree key.
inline constexpr char16_t kTrapConnectivityLostKey[] = u"Trap_ConnectivityLost";
inline constexpr char16_t kTrapConnectivityRegainedKey[] = u"Trap_ConnectivityRegained";
inline constexpr char16_t kTrapRedundancyIncreasedKey[] = u"Trap_RedundancyIncreased";
inline constexpr char16_t kTrapRedundancyReducedKey[] = u"Trap_RedundancyReduced";

// The key name of a trap code, null for any other code.
const char16_t* TrapKeyName(uint32_t trapCode);

// --- Value name formatting -----------------------------------------------------------------

// Longest numbered name: the longest prefix and eight hexadecimal digits, with terminator.
inline constexpr size_t kNumberedValueNameChars = 24;
// "TrapData" and sixteen hexadecimal digits, with terminator.
inline constexpr size_t kTrapValueNameChars = 25;

// Writes prefix followed by number in upper-case hexadecimal, zero-padded to at least three
// digits ("InterfaceMap001", "PhysAdapter00A", "InterfaceMap1000"), terminated. Returns the
// characters written before the terminator, or 0 (and an empty buffer when it has room for
// the terminator) when the name does not fit in capacity characters.
size_t FormatNumberedValueName(const char16_t* prefix, uint32_t number, char16_t* buffer,
                               size_t capacity);

// Writes "TrapData" followed by the high and then the low 32 bits of a file time, eight
// upper-case hexadecimal digits each. Same result and bounds as FormatNumberedValueName.
size_t FormatTrapValueName(uint64_t fileTime, char16_t* buffer, size_t capacity);
size_t FormatTrapValueName(platform::FileTime fileTime, char16_t* buffer, size_t capacity);

// --- Field values --------------------------------------------------------------------------

// Link condition of a port (and the interface condition of the interface record).
inline constexpr uint8_t kConditionOther = 1;  // unknown
inline constexpr uint8_t kConditionOk = 2;
inline constexpr uint8_t kConditionFailed = 4;  // link failure

// Interface status of the interface record.
inline constexpr uint8_t kInterfaceStatusOther = 1;
inline constexpr uint8_t kInterfaceStatusLinkOk = 2;
inline constexpr uint8_t kInterfaceStatusLinkFailure = 5;

// Grouping of the interface record.
inline constexpr uint8_t kGroupingUnknown = 1;
inline constexpr uint8_t kGroupingSingle = 2;
inline constexpr uint8_t kGroupingTeam = 4;

// Address assignment of the interface record.
inline constexpr uint8_t kAddressDhcp = 1;
inline constexpr uint8_t kAddressStatic = 2;

// Team role of a port that is not in a team.
inline constexpr uint8_t kTeamRoleNone = 255;

inline constexpr uint8_t kMibStatsHeaderMark = 18;
inline constexpr uint32_t kTrapRecordMark = 4;
inline constexpr uint32_t kAllOnes = 0xFFFFFFFFu;

// --- Record layouts ------------------------------------------------------------------------

#pragma pack(push, 1)

// IfTableInformation under Interface: the overall condition of all interfaces.
struct IfTableInformationRecord {
  uint8_t overallCondition;  // largest interface condition of the list, at least 1
};

// MibStats under Interface and Ethernet (the same bytes under both).
struct MibStatsRecord {
  uint8_t headerMark;            // always kMibStatsHeaderMark
  uint8_t overallCondition;      // as IfTableInformation
  uint32_t pollIntervalSeconds;  // the collection loop's interval when the list was built
};

// SoftwareRevisions under Interface.
struct SoftwareRevisionsRecord {
  uint8_t revisionMark;  // 1
  char separator;        // '.'
  uint8_t unused[3971];  // 0
};
inline constexpr uint8_t kSoftwareRevisionMark = 1;
inline constexpr char kSoftwareRevisionSeparator = '.';

// InterfaceMap<NNN> under LogInterfaceMap: one logical interface (a VLAN interface merged
// into another is listed in that one's member indexes instead).
struct InterfaceMapRecord {
  uint32_t interfaceMapNumber;
  uint32_t memberCount;        // valid entries of memberIndexes
  uint32_t memberIndexes[64];  // own interface index first, then merged VLAN interfaces
  char description[256];       // as the interface table gives it
  uint8_t grouping;            // kGrouping*
  uint8_t portCount;
  uint8_t portsWithLink;
  uint8_t portNumbers[16];  // low bytes of the ports' PhysAdapter numbers
  uint8_t macAddress[6];
  uint8_t fixedOne;             // always 1
  uint8_t condition;            // kCondition*: 1 other, 2 ok, 4 failed
  uint8_t status;               // kInterfaceStatus*
  uint32_t reserved548;         // 0
  uint8_t reserved552;          // 0
  uint32_t speedBitsPerSecond;  // 0 while the link is down or unknown
  uint32_t ipv4Address;         // network byte order
  uint8_t vlanCount;            // valid entries of vlanMapNumbers
  uint8_t vlanMapNumbers[64];   // low bytes of the grouped VLAN interfaces' VlanMap numbers
  uint32_t lastChangeTime;      // interface's last change minus the agent's start, 10 ms units
  uint32_t reserved630;         // 0
  char ipv6Address[256];        // first unicast address, or "N/A"
  char connectionName[256];     // empty when unknown
  uint8_t addressAssignment;    // kAddressDhcp or kAddressStatic
};

// VlanMap<NNN> under VlanInterface: one VLAN interface.
struct VlanMapRecord {
  uint32_t vlanMapNumber;       // all ones until assigned
  uint32_t interfaceMapNumber;  // the InterfaceMap this VLAN is published under; all ones
  uint32_t interfaceIndex;      // or the bridge's index when bridged; all ones until known
  uint32_t vlanIndicator;       // from the miniport, non-zero
  char reservedText16[512];     // "N/A"
  char reservedText528[256];    // "N/A"
  char connectionName[256];     // "N/A"
};

// Statistics<NNN> under Ethernet\Statistics, numbered by interface index: the Ethernet-like
// interface MIB's statistics row of one Ethernet interface.
struct StatisticsRecord {
  uint32_t interfaceIndex;
  uint32_t alignmentErrors;
  uint32_t fcsErrors;
  uint32_t singleCollisionFrames;
  uint32_t multipleCollisionFrames;
  uint32_t sqeTestErrors;  // 0
  uint32_t deferredTransmissions;
  uint32_t lateCollisions;
  uint32_t excessiveCollisions;
  uint32_t internalMacTransmitErrors;
  uint32_t carrierSenseErrors;
  uint32_t frameTooLongs;
  uint32_t internalMacReceiveErrors;
};

// PhysAdapter<NNN> under PhysInterface: one physical port.
struct PhysAdapterRecord {
  uint32_t portNumber;
  uint32_t interfaceIndex;  // of the logical interface that owns the port
  uint8_t teamRole;         // kTeamRoleNone, or the team mode
  uint8_t macAddress[6];
  uint32_t slotNumber;  // 0 when unknown
  uint32_t ioBase;
  uint32_t resourceValue;  // all ones until the location is read
  uint32_t memoryBase;
  uint32_t reserved31;  // all ones
  uint8_t portInCard;
  uint8_t duplex;         // 1 unknown, 2 half, 3 full
  uint8_t linkCondition;  // kCondition*
  uint8_t conditionCopies[2];
  uint8_t fixedOne;  // 1
  uint32_t framesTransmittedOk;
  uint32_t framesReceivedOk;
  uint32_t transmitErrorSum;
  uint32_t receiveErrorSum;
  uint32_t alignmentErrors;
  uint32_t fcsErrors;
  uint32_t singleCollisionFrames;
  uint32_t multipleCollisionFrames;
  uint32_t deferredTransmissions;
  uint32_t lateCollisions;
  uint32_t excessiveCollisions;
  uint32_t internalMacTransmitErrors;
  uint32_t carrierSenseErrors;
  uint32_t frameTooLongs;  // 0
  uint32_t internalMacReceiveErrors;
  char pciIdentity[256];  // "PCIID0x%.8X,SUBSYSID0x%.8X"
  char partNumber[33];
  uint32_t linkSpeed;  // megabits per second
  uint32_t receivedOctets;
  uint32_t sentOctets;
  uint32_t speedDuplexConfig;  // configuration code 1 to 9
  uint32_t reserved406;        // all ones
  char deviceDescription[257];
  uint32_t inventoryValue1;  // from the platform inventory; all ones when unknown
  char firmwareVersion[33];
  uint32_t inventoryValue2;  // from the platform inventory; all ones when unknown
  char pciLocation[256];     // "0000:%.2X:%.2X.%.1X"
};

// TrapData<time> under a trap key: one trap.
struct TrapRecord {
  uint32_t trapCode;                // kTrap*
  uint32_t recordMark;              // always kTrapRecordMark
  uint32_t teamInterfaceMapNumber;  // redundancy traps only, else 0
  uint32_t portNumber;              // the port whose link changed
  uint32_t slotNumber;
  uint8_t portInCard;
  uint8_t teamPortsWithLink;  // redundancy traps only, else 0
  uint8_t reserved22;         // 0
  char reservedText[9];       // empty; its last byte is taken by portCondition
  uint8_t portCondition;      // the port record's second condition copy
  char deviceDescription[257];
  char partNumber[32];
  uint32_t ipv4Address;   // network byte order
  char ipv6Address[256];  // or "N/A"
  uint32_t pciBus;
  uint32_t pciDevice;
  uint32_t interfacePortsWithLink;  // the interface record's portsWithLink
  uint8_t interfaceMacAddress[6];
};

#pragma pack(pop)

// --- Layout checks -------------------------------------------------------------------------

static_assert(sizeof(IfTableInformationRecord) == 1);

static_assert(sizeof(MibStatsRecord) == 6);
static_assert(offsetof(MibStatsRecord, headerMark) == 0);
static_assert(offsetof(MibStatsRecord, overallCondition) == 1);
static_assert(offsetof(MibStatsRecord, pollIntervalSeconds) == 2);

static_assert(sizeof(SoftwareRevisionsRecord) == 3973);
static_assert(offsetof(SoftwareRevisionsRecord, separator) == 1);
static_assert(offsetof(SoftwareRevisionsRecord, unused) == 2);

static_assert(sizeof(InterfaceMapRecord) == 1147);
static_assert(offsetof(InterfaceMapRecord, interfaceMapNumber) == 0);
static_assert(offsetof(InterfaceMapRecord, memberCount) == 4);
static_assert(offsetof(InterfaceMapRecord, memberIndexes) == 8);
static_assert(offsetof(InterfaceMapRecord, description) == 264);
static_assert(offsetof(InterfaceMapRecord, grouping) == 520);
static_assert(offsetof(InterfaceMapRecord, portCount) == 521);
static_assert(offsetof(InterfaceMapRecord, portsWithLink) == 522);
static_assert(offsetof(InterfaceMapRecord, portNumbers) == 523);
static_assert(offsetof(InterfaceMapRecord, macAddress) == 539);
static_assert(offsetof(InterfaceMapRecord, fixedOne) == 545);
static_assert(offsetof(InterfaceMapRecord, condition) == 546);
static_assert(offsetof(InterfaceMapRecord, status) == 547);
static_assert(offsetof(InterfaceMapRecord, reserved548) == 548);
static_assert(offsetof(InterfaceMapRecord, reserved552) == 552);
static_assert(offsetof(InterfaceMapRecord, speedBitsPerSecond) == 553);
static_assert(offsetof(InterfaceMapRecord, ipv4Address) == 557);
static_assert(offsetof(InterfaceMapRecord, vlanCount) == 561);
static_assert(offsetof(InterfaceMapRecord, vlanMapNumbers) == 562);
static_assert(offsetof(InterfaceMapRecord, lastChangeTime) == 626);
static_assert(offsetof(InterfaceMapRecord, reserved630) == 630);
static_assert(offsetof(InterfaceMapRecord, ipv6Address) == 634);
static_assert(offsetof(InterfaceMapRecord, connectionName) == 890);
static_assert(offsetof(InterfaceMapRecord, addressAssignment) == 1146);

static_assert(sizeof(VlanMapRecord) == 1040);
static_assert(offsetof(VlanMapRecord, vlanMapNumber) == 0);
static_assert(offsetof(VlanMapRecord, interfaceMapNumber) == 4);
static_assert(offsetof(VlanMapRecord, interfaceIndex) == 8);
static_assert(offsetof(VlanMapRecord, vlanIndicator) == 12);
static_assert(offsetof(VlanMapRecord, reservedText16) == 16);
static_assert(offsetof(VlanMapRecord, reservedText528) == 528);
static_assert(offsetof(VlanMapRecord, connectionName) == 784);

static_assert(sizeof(StatisticsRecord) == 52);
static_assert(offsetof(StatisticsRecord, interfaceIndex) == 0);
static_assert(offsetof(StatisticsRecord, alignmentErrors) == 4);
static_assert(offsetof(StatisticsRecord, fcsErrors) == 8);
static_assert(offsetof(StatisticsRecord, singleCollisionFrames) == 12);
static_assert(offsetof(StatisticsRecord, multipleCollisionFrames) == 16);
static_assert(offsetof(StatisticsRecord, sqeTestErrors) == 20);
static_assert(offsetof(StatisticsRecord, deferredTransmissions) == 24);
static_assert(offsetof(StatisticsRecord, lateCollisions) == 28);
static_assert(offsetof(StatisticsRecord, excessiveCollisions) == 32);
static_assert(offsetof(StatisticsRecord, internalMacTransmitErrors) == 36);
static_assert(offsetof(StatisticsRecord, carrierSenseErrors) == 40);
static_assert(offsetof(StatisticsRecord, frameTooLongs) == 44);
static_assert(offsetof(StatisticsRecord, internalMacReceiveErrors) == 48);

static_assert(sizeof(PhysAdapterRecord) == 964);
static_assert(offsetof(PhysAdapterRecord, portNumber) == 0);
static_assert(offsetof(PhysAdapterRecord, interfaceIndex) == 4);
static_assert(offsetof(PhysAdapterRecord, teamRole) == 8);
static_assert(offsetof(PhysAdapterRecord, macAddress) == 9);
static_assert(offsetof(PhysAdapterRecord, slotNumber) == 15);
static_assert(offsetof(PhysAdapterRecord, ioBase) == 19);
static_assert(offsetof(PhysAdapterRecord, resourceValue) == 23);
static_assert(offsetof(PhysAdapterRecord, memoryBase) == 27);
static_assert(offsetof(PhysAdapterRecord, reserved31) == 31);
static_assert(offsetof(PhysAdapterRecord, portInCard) == 35);
static_assert(offsetof(PhysAdapterRecord, duplex) == 36);
static_assert(offsetof(PhysAdapterRecord, linkCondition) == 37);
static_assert(offsetof(PhysAdapterRecord, conditionCopies) == 38);
static_assert(offsetof(PhysAdapterRecord, fixedOne) == 40);
static_assert(offsetof(PhysAdapterRecord, framesTransmittedOk) == 41);
static_assert(offsetof(PhysAdapterRecord, framesReceivedOk) == 45);
static_assert(offsetof(PhysAdapterRecord, transmitErrorSum) == 49);
static_assert(offsetof(PhysAdapterRecord, receiveErrorSum) == 53);
static_assert(offsetof(PhysAdapterRecord, alignmentErrors) == 57);
static_assert(offsetof(PhysAdapterRecord, fcsErrors) == 61);
static_assert(offsetof(PhysAdapterRecord, singleCollisionFrames) == 65);
static_assert(offsetof(PhysAdapterRecord, multipleCollisionFrames) == 69);
static_assert(offsetof(PhysAdapterRecord, deferredTransmissions) == 73);
static_assert(offsetof(PhysAdapterRecord, lateCollisions) == 77);
static_assert(offsetof(PhysAdapterRecord, excessiveCollisions) == 81);
static_assert(offsetof(PhysAdapterRecord, internalMacTransmitErrors) == 85);
static_assert(offsetof(PhysAdapterRecord, carrierSenseErrors) == 89);
static_assert(offsetof(PhysAdapterRecord, frameTooLongs) == 93);
static_assert(offsetof(PhysAdapterRecord, internalMacReceiveErrors) == 97);
static_assert(offsetof(PhysAdapterRecord, pciIdentity) == 101);
static_assert(offsetof(PhysAdapterRecord, partNumber) == 357);
static_assert(offsetof(PhysAdapterRecord, linkSpeed) == 390);
static_assert(offsetof(PhysAdapterRecord, receivedOctets) == 394);
static_assert(offsetof(PhysAdapterRecord, sentOctets) == 398);
static_assert(offsetof(PhysAdapterRecord, speedDuplexConfig) == 402);
static_assert(offsetof(PhysAdapterRecord, reserved406) == 406);
static_assert(offsetof(PhysAdapterRecord, deviceDescription) == 410);
static_assert(offsetof(PhysAdapterRecord, inventoryValue1) == 667);
static_assert(offsetof(PhysAdapterRecord, firmwareVersion) == 671);
static_assert(offsetof(PhysAdapterRecord, inventoryValue2) == 704);
static_assert(offsetof(PhysAdapterRecord, pciLocation) == 708);

static_assert(sizeof(TrapRecord) == 600);
static_assert(offsetof(TrapRecord, trapCode) == 0);
static_assert(offsetof(TrapRecord, recordMark) == 4);
static_assert(offsetof(TrapRecord, teamInterfaceMapNumber) == 8);
static_assert(offsetof(TrapRecord, portNumber) == 12);
static_assert(offsetof(TrapRecord, slotNumber) == 16);
static_assert(offsetof(TrapRecord, portInCard) == 20);
static_assert(offsetof(TrapRecord, teamPortsWithLink) == 21);
static_assert(offsetof(TrapRecord, reserved22) == 22);
static_assert(offsetof(TrapRecord, reservedText) == 23);
static_assert(offsetof(TrapRecord, portCondition) == 32);
static_assert(offsetof(TrapRecord, deviceDescription) == 33);
static_assert(offsetof(TrapRecord, partNumber) == 290);
static_assert(offsetof(TrapRecord, ipv4Address) == 322);
static_assert(offsetof(TrapRecord, ipv6Address) == 326);
static_assert(offsetof(TrapRecord, pciBus) == 582);
static_assert(offsetof(TrapRecord, pciDevice) == 586);
static_assert(offsetof(TrapRecord, interfacePortsWithLink) == 590);
static_assert(offsetof(TrapRecord, interfaceMacAddress) == 594);

}  // namespace crv

// NDIS query codes and the structures the agent reads from NDIS answers, as Windows lays
// them out. Constants and layouts only, with the SDK's names in comments, so that the test
// bed's stand-in driver answers from the same values the agent asks with.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// IOCTL_NDIS_QUERY_GLOBAL_STATS: input the 4-byte OID, output the answer.
constexpr uint32_t kIoctlNdisQueryGlobalStats = 0x00170002;

// General OIDs (OID_GEN_*) the agent sends.
constexpr uint32_t kOidGenMediaSupported = 0x00010103;      // OID_GEN_MEDIA_SUPPORTED
constexpr uint32_t kOidGenMediaInUse = 0x00010104;          // OID_GEN_MEDIA_IN_USE
constexpr uint32_t kOidGenLinkSpeed = 0x00010107;           // OID_GEN_LINK_SPEED, 100 bit/s units
constexpr uint32_t kOidGenMediaConnectStatus = 0x00010114;  // OID_GEN_MEDIA_CONNECT_STATUS
constexpr uint32_t kOidGenLinkState = 0x00010207;           // OID_GEN_LINK_STATE
constexpr uint32_t kOidGenMediaDuplexState = 0x0001028C;    // OID_GEN_MEDIA_DUPLEX_STATE

// 802.3 addresses.
constexpr uint32_t kOid8023PermanentAddress = 0x01010101;  // OID_802_3_PERMANENT_ADDRESS
constexpr uint32_t kOid8023CurrentAddress = 0x01010102;    // OID_802_3_CURRENT_ADDRESS

// Statistics: 64-bit counters, or their low 32 bits when asked with a 4-byte buffer.
constexpr uint32_t kOidGenXmitOk = 0x00020101;               // OID_GEN_XMIT_OK
constexpr uint32_t kOidGenRcvOk = 0x00020102;                // OID_GEN_RCV_OK
constexpr uint32_t kOidGenXmitError = 0x00020103;            // OID_GEN_XMIT_ERROR
constexpr uint32_t kOidGenRcvError = 0x00020104;             // OID_GEN_RCV_ERROR
constexpr uint32_t kOidGenRcvNoBuffer = 0x00020105;          // OID_GEN_RCV_NO_BUFFER
constexpr uint32_t kOidGenRcvCrcError = 0x0002020D;          // OID_GEN_RCV_CRC_ERROR
constexpr uint32_t kOid8023RcvErrorAlignment = 0x01020101;   // OID_802_3_RCV_ERROR_ALIGNMENT
constexpr uint32_t kOid8023XmitOneCollision = 0x01020102;    // OID_802_3_XMIT_ONE_COLLISION
constexpr uint32_t kOid8023XmitMoreCollisions = 0x01020103;  // OID_802_3_XMIT_MORE_COLLISIONS
constexpr uint32_t kOid8023XmitDeferred = 0x01020201;        // OID_802_3_XMIT_DEFERRED
constexpr uint32_t kOid8023XmitMaxCollisions = 0x01020202;   // OID_802_3_XMIT_MAX_COLLISIONS
constexpr uint32_t kOid8023RcvOverrun = 0x01020203;          // OID_802_3_RCV_OVERRUN
constexpr uint32_t kOid8023XmitUnderrun = 0x01020204;        // OID_802_3_XMIT_UNDERRUN
constexpr uint32_t kOid8023XmitTimesCrsLost = 0x01020206;    // OID_802_3_XMIT_TIMES_CRS_LOST
constexpr uint32_t kOid8023XmitLateCollisions = 0x01020207;  // OID_802_3_XMIT_LATE_COLLISIONS

// NDIS_MEDIUM values.
constexpr uint32_t kNdisMedium802_3 = 0;
constexpr uint32_t kNdisMedium802_5 = 1;
constexpr uint32_t kNdisMediumMax = 20;

// NDIS_MEDIA_STATE values of OID_GEN_MEDIA_CONNECT_STATUS.
constexpr uint32_t kNdisMediaStateConnected = 0;
constexpr uint32_t kNdisMediaStateDisconnected = 1;

// NDIS_LINK_STATE (OID_GEN_LINK_STATE).
struct NdisLinkState {
  uint8_t headerType;
  uint8_t headerRevision;
  uint16_t headerSize;
  uint32_t mediaConnectState;
  uint32_t mediaDuplexState;  // 0 unknown, 1 half, 2 full
  uint32_t padding;
  uint64_t xmitLinkSpeed;
  uint64_t rcvLinkSpeed;
  uint32_t pauseFunctions;
  uint32_t autoNegotiationFlags;
};
static_assert(sizeof(NdisLinkState) == 40);
static_assert(offsetof(NdisLinkState, mediaDuplexState) == 8);

}  // namespace platform

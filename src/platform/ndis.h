// NDIS query codes and the structures the agent reads from NDIS answers, as Windows lays
// them out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// IOCTL_NDIS_QUERY_GLOBAL_STATS: input the 4-byte OID, output the answer.
constexpr uint32_t kIoctlNdisQueryGlobalStats = 0x00170002;

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

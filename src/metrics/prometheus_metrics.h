// The published model as Prometheus metrics (text exposition format 0.0.4), rendered by one
// piece of code for both readers: the agent's own metrics file, from its model and the
// system's 64-bit interface counters, and tessar-dump, from a tree it decoded. Names start
// with "crvnic_", units are base units, counters end in "_total"; port series carry the
// interface, port number, slot, PCI location and MAC address. Texts are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>

#include "metrics/metrics_text.h"

namespace crv {

// The Ethernet statistics of a port, in the port record's order.
enum EthernetCounter : uint32_t {
  kAlignmentErrors,
  kFcsErrors,
  kSingleCollisionFrames,
  kMultipleCollisionFrames,
  kDeferredTransmissions,
  kLateCollisions,
  kExcessiveCollisions,
  kInternalMacTransmitErrors,
  kCarrierSenseErrors,
  kFrameTooLongs,
  kInternalMacReceiveErrors,
  kEthernetCounters
};

struct MetricsInterface {
  const char* name = "";  // connection name, or the description when it has none
  uint32_t mapNumber = 0;
  const char* description = "";
  const char* mac = "";
  const char* ipv4 = "";
  uint32_t grouping = 0;  // 2 single adapter, 4 team
  uint32_t status = 0;    // 2 link ok
  // The record's speed; all ones, its 32-bit cap, is shown as the sum of the speeds of the
  // interface's ports with link, which are exact.
  uint64_t speedBitsPerSecond = 0;
  uint32_t portCount = 0;
  uint32_t portsWithLink = 0;
};

struct MetricsPort {
  const char* interfaceName = "";
  uint32_t interfaceMapNumber = 0;  // of the interface the port is listed under
  uint32_t portNumber = 0;
  uint32_t slot = 0;
  const char* pciLocation = "";
  const char* mac = "";
  const char* description = "";
  uint32_t pciId = 0;  // vendor id in the high half
  uint32_t subsystemId = 0;
  const char* firmware = "";
  const char* partNumber = "";
  uint32_t linkCondition = 0;  // 1 unknown, 2 ok, 4 link failure
  uint32_t duplex = 0;         // 3 full
  uint64_t speedBitsPerSecond = 0;
  uint64_t framesSent = 0;
  uint64_t framesReceived = 0;
  uint64_t octetsSent = 0;
  uint64_t octetsReceived = 0;
  uint32_t ethernet[kEthernetCounters] = {};
  // With interfaceCounters only: the interface's errors and discards, received then sent.
  uint64_t interfaceErrors[2] = {};
  uint64_t interfaceDiscards[2] = {};
};

// Trap kinds in trap code order: connectivity lost, regained, redundancy reduced, increased.
inline constexpr size_t kTrapKinds = 4;

struct MetricsInput {
  bool present = false;  // false: no tree, only crvnic_tree_present 0
  uint32_t overallCondition = 0;
  uint32_t pollIntervalSeconds = 0;
  uint64_t cycleFileTime = 0;  // 0: not known
  const MetricsInterface* interfaces = nullptr;
  size_t interfaceCount = 0;
  const MetricsPort* ports = nullptr;
  size_t portCount = 0;
  // The frame and octet counts are the interface's 64-bit ones (GetIfEntry2) rather than the
  // tree's 32-bit ones, and the interface's errors and discards are given.
  bool interfaceCounters = false;
  // The trap records in the tree by kind: with trapRecords only.
  bool trapRecords = false;
  uint32_t trapCounts[kTrapKinds] = {};
  uint64_t trapNewestFileTime[kTrapKinds] = {};
  uint32_t unknownTraps = 0;
  uint32_t trapRecordsRemoved = 0;
};

void RenderPrometheus(const MetricsInput& input, MetricsText* out);

}  // namespace crv

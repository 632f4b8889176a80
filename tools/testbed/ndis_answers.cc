// The stand-in NDIS driver's answers: each OID the agent asks, from the Linux interface behind
// the adapter, with a miniport's buffer rules. A fixed-size answer needs room for all of it; a
// statistic is 64 bits, or its low 32 bits for a 4-byte buffer (NDIS's 64-bit statistics
// rule); an OID not listed is not supported, whatever the buffer.
#include <atomic>
#include <cstring>

#include "ndis_stand_in.h"
#include "platform/ndis.h"

namespace ndis_stand_in {
namespace {

using platform::kOid8023CurrentAddress;
using platform::kOid8023PermanentAddress;
using platform::kOidGenLinkSpeed;
using platform::kOidGenLinkState;
using platform::kOidGenMediaConnectStatus;
using platform::kOidGenMediaDuplexState;
using platform::kOidGenMediaInUse;
using platform::kOidGenMediaSupported;
using LinkState = platform::NdisLinkState;

constexpr uint64_t kLinkSpeedUnknown = ~uint64_t{0};  // NDIS_LINK_SPEED_UNKNOWN

// Each statistic and the Linux counter it is read from. Linux keeps one collision total and
// no deferral count: the single-collision and deferred counts read as 0 (nothing here
// collides: veth and tap are full duplex), the total as frames with more collisions.
struct Statistic {
  uint32_t oid;
  const char* counter;  // null: always 0
};
constexpr Statistic kStatistics[] = {
    {platform::kOidGenXmitOk, "tx_packets"},
    {platform::kOidGenRcvOk, "rx_packets"},
    {platform::kOidGenXmitError, "tx_errors"},
    {platform::kOidGenRcvError, "rx_errors"},
    {platform::kOidGenRcvNoBuffer, "rx_dropped"},
    {platform::kOidGenRcvCrcError, "rx_crc_errors"},
    {platform::kOid8023RcvErrorAlignment, "rx_frame_errors"},
    {platform::kOid8023XmitOneCollision, nullptr},
    {platform::kOid8023XmitMoreCollisions, "collisions"},
    {platform::kOid8023XmitDeferred, nullptr},
    {platform::kOid8023XmitMaxCollisions, "tx_aborted_errors"},
    {platform::kOid8023RcvOverrun, "rx_fifo_errors"},
    {platform::kOid8023XmitUnderrun, "tx_fifo_errors"},
    {platform::kOid8023XmitTimesCrsLost, "tx_carrier_errors"},
    {platform::kOid8023XmitLateCollisions, "tx_window_errors"},
};

QueryStatus Fixed(const void* answer, uint32_t size, void* output, uint32_t outputSize,
                  uint32_t* written) {
  if (outputSize < size) return QueryStatus::kBufferTooSmall;
  std::memcpy(output, answer, size);
  *written = size;
  return QueryStatus::kSuccess;
}

QueryStatus Word(uint32_t value, void* output, uint32_t outputSize, uint32_t* written) {
  return Fixed(&value, sizeof value, output, outputSize, written);
}

QueryStatus Counter(uint64_t value, void* output, uint32_t outputSize, uint32_t* written) {
  if (outputSize >= sizeof value) return Fixed(&value, sizeof value, output, outputSize, written);
  return Word(static_cast<uint32_t>(value), output, outputSize, written);
}

LinkState LinkStateOf(const LinkFacts& facts) {
  LinkState state = {};
  state.headerType = 0x80;  // NDIS_OBJECT_TYPE_DEFAULT, revision 1
  state.headerRevision = 1;
  state.headerSize = sizeof state;
  state.mediaConnectState = facts.connected ? 1 : 2;  // NET_IF_MEDIA_CONNECT_STATE
  state.mediaDuplexState = static_cast<uint32_t>(facts.duplex);
  uint64_t speed =
      facts.megabitsPerSecond != 0 ? facts.megabitsPerSecond * 1000000 : kLinkSpeedUnknown;
  state.xmitLinkSpeed = speed;
  state.rcvLinkSpeed = speed;
  return state;
}

}  // namespace

QueryStatus Answer(const Adapter& adapter, uint32_t oid, void* output, uint32_t outputSize,
                   uint32_t* written) {
  *written = 0;
  switch (oid) {
    case kOidGenMediaSupported:
    case kOidGenMediaInUse:
      return Word(adapter.medium, output, outputSize, written);
    case kOid8023PermanentAddress:
      return Fixed(adapter.permanentAddress, adapter.addressLength, output, outputSize, written);
    case kOid8023CurrentAddress:
      return Fixed(adapter.currentAddress, adapter.addressLength, output, outputSize, written);
    case kOidGenMediaConnectStatus:  // NDIS_MEDIA_STATE: 0 connected, 1 disconnected
      return Word(ReadLinkFacts(adapter.linuxName).connected ? 0 : 1, output, outputSize, written);
    case kOidGenLinkSpeed: {  // in units of 100 bit/s
      uint64_t units = ReadLinkFacts(adapter.linuxName).megabitsPerSecond * 10000;
      return Word(units > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(units), output,
                  outputSize, written);
    }
    case kOidGenMediaDuplexState:
      return Word(static_cast<uint32_t>(ReadLinkFacts(adapter.linuxName).duplex), output,
                  outputSize, written);
    case kOidGenLinkState: {
      LinkState state = LinkStateOf(ReadLinkFacts(adapter.linuxName));
      return Fixed(&state, sizeof state, output, outputSize, written);
    }
    default:
      break;
  }
  for (const Statistic& s : kStatistics) {
    if (s.oid != oid) continue;
    uint64_t value = 0;
    if (s.counter != nullptr && !ReadStatistic(adapter.linuxName, s.counter, &value)) {
      return QueryStatus::kNotSupported;
    }
    return Counter(value, output, outputSize, written);
  }
  return QueryStatus::kNotSupported;
}

}  // namespace ndis_stand_in

namespace {
ndis_stand_in::Adapter g_adapters[ndis_stand_in::kMaxAdapters];
// Written by one thread at a time, read by the request threads: published with release.
std::atomic<size_t> g_adapterCount{0};

bool SameGuid(const wchar_t* a, const wchar_t* b) {
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a == *b;
}

}  // namespace

extern "C" size_t StandInAddNewAdapters(void) {
  static ndis_stand_in::Adapter table[ndis_stand_in::kMaxAdapters];
  size_t rows = ndis_stand_in::ListAdapters(table, ndis_stand_in::kMaxAdapters);
  size_t count = g_adapterCount.load(std::memory_order_relaxed);
  for (size_t i = 0; i < rows && count < ndis_stand_in::kMaxAdapters; ++i) {
    bool known = false;
    for (size_t j = 0; j < count && !known; ++j)
      known = SameGuid(g_adapters[j].guid, table[i].guid);
    if (known) continue;
    // Filled before it is counted: a request on another thread only reads counted adapters.
    g_adapters[count] = table[i];
    ndis_stand_in::AddCardKey(table[i]);
    g_adapterCount.store(++count, std::memory_order_release);
  }
  return count;
}

extern "C" int StandInWatchingInterfaces(void) { return ndis_stand_in::WatchingInterfaces(); }

extern "C" const wchar_t* StandInAdapterGuid(size_t adapter) {
  return adapter < g_adapterCount.load(std::memory_order_acquire) ? g_adapters[adapter].guid
                                                                  : nullptr;
}

extern "C" int StandInAnswer(size_t adapter, uint32_t oid, void* output, uint32_t outputSize,
                             uint32_t* written) {
  *written = 0;
  if (adapter >= g_adapterCount.load(std::memory_order_acquire))
    return static_cast<int>(ndis_stand_in::QueryStatus::kNotSupported);
  return static_cast<int>(
      ndis_stand_in::Answer(g_adapters[adapter], oid, output, outputSize, written));
}

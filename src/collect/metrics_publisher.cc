#include "collect/metrics_publisher.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "collect/if_list.h"
#include "common/alloc.h"
#include "common/bounded_text.h"
#include "common/process_state.h"
#include "common/report.h"
#include "metrics/prometheus_metrics.h"
#include "metrics/windows_1252.h"
#include "platform/platform.h"
#include "publish/registry_key.h"
#include "service/nic_service.h"
#include "trap/trap.h"

namespace crv {
namespace {

// UTF-8 of a record text: up to three bytes for each of its characters.
constexpr size_t kTextBytes = 3 * 257 + 1;

// The texts a MetricsInterface or MetricsPort points into, kept beside the array of them
// that is handed to the renderer.
struct InterfaceTexts {
  char name[kTextBytes];
  char description[kTextBytes];
  char mac[18];
  char ipv4[16];
};

struct PortTexts {
  char description[kTextBytes];
  char firmware[3 * 33 + 1];
  char partNumber[3 * 33 + 1];
  char pciLocation[kTextBytes];
  char mac[18];
};

void MacText(const uint8_t* mac, char* out) {
  std::snprintf(out, 18, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4],
                mac[5]);
}

void FillInterface(const CLogicalAdapter& adapter, MetricsInterface* m, InterfaceTexts* e) {
  const InterfaceMapRecord& r = adapter.Record();
  Windows1252ToUtf8(r.description, sizeof r.description, e->description, sizeof e->description);
  Windows1252ToUtf8(r.connectionName, sizeof r.connectionName, e->name, sizeof e->name);
  if (e->name[0] == 0) std::memcpy(e->name, e->description, sizeof e->name);
  MacText(r.macAddress, e->mac);
  const auto* ip = reinterpret_cast<const uint8_t*>(&r.ipv4Address);
  std::snprintf(e->ipv4, sizeof e->ipv4, "%u.%u.%u.%u", ip[0], ip[1], ip[2], ip[3]);
  m->name = e->name;
  m->mapNumber = r.interfaceMapNumber;
  m->description = e->description;
  m->mac = e->mac;
  m->ipv4 = e->ipv4;
  m->grouping = r.grouping;
  m->status = r.status;
  m->speedBitsPerSecond = r.speedBitsPerSecond;
  m->portCount = r.portCount;
  m->portsWithLink = r.portsWithLink;
}

// ifEntryReported: whether a failed GetIfEntry2 was reported already (once per thread).
void FillPort(const CPhysicalAdapter& port, const MetricsInterface& owner, MetricsPort* out,
              PortTexts* e, bool* ifEntryReported) {
  const PhysAdapterRecord& r = port.Record();
  Windows1252ToUtf8(r.deviceDescription, sizeof r.deviceDescription, e->description,
                    sizeof e->description);
  Windows1252ToUtf8(r.firmwareVersion, sizeof r.firmwareVersion, e->firmware, sizeof e->firmware);
  Windows1252ToUtf8(r.partNumber, sizeof r.partNumber, e->partNumber, sizeof e->partNumber);
  Windows1252ToUtf8(r.pciLocation, sizeof r.pciLocation, e->pciLocation, sizeof e->pciLocation);
  MacText(r.macAddress, e->mac);
  MetricsPort& m = *out;
  m.interfaceName = owner.name;
  m.interfaceMapNumber = owner.mapNumber;
  m.portNumber = r.portNumber;
  m.slot = r.slotNumber;
  m.pciLocation = e->pciLocation;
  m.mac = e->mac;
  m.description = e->description;
  unsigned pciId = 0, subsystemId = 0;
  char identity[sizeof r.pciIdentity + 1] = {};
  std::memcpy(identity, r.pciIdentity, sizeof r.pciIdentity);
  if (std::sscanf(identity, "PCIID0x%8x,SUBSYSID0x%8x", &pciId, &subsystemId) == 2) {
    m.pciId = pciId;
    m.subsystemId = subsystemId;
  }
  m.firmware = e->firmware;
  m.partNumber = e->partNumber;
  m.linkCondition = r.linkCondition;
  m.duplex = r.duplex;
  m.speedBitsPerSecond = uint64_t{r.linkSpeed} * 1000000u;
  const uint32_t ethernet[kEthernetCounters] = {
      r.alignmentErrors,         r.fcsErrors,
      r.singleCollisionFrames,   r.multipleCollisionFrames,
      r.deferredTransmissions,   r.lateCollisions,
      r.excessiveCollisions,     r.internalMacTransmitErrors,
      r.carrierSenseErrors,      r.frameTooLongs,
      r.internalMacReceiveErrors};
  std::memcpy(m.ethernet, ethernet, sizeof ethernet);
  // The counts of the interface the record's octets come from, in 64 bits; the record's own
  // where the system does not answer.
  platform::IfRow2Flags row{};
  row.interfaceIndex = r.interfaceIndex;
  uint32_t status = platform::Os().ipHelper->GetIfEntry2(&row);
  if (status == 0) {
    m.framesSent = row.outUcastPkts + row.outNUcastPkts;
    m.framesReceived = row.inUcastPkts + row.inNUcastPkts;
    m.octetsSent = row.outOctets;
    m.octetsReceived = row.inOctets;
    m.interfaceErrors[0] = row.inErrors;
    m.interfaceErrors[1] = row.outErrors;
    m.interfaceDiscards[0] = row.inDiscards;
    m.interfaceDiscards[1] = row.outDiscards;
  } else {
    if (!*ifEntryReported) {
      *ifEntryReported = true;
      ReportInfo(u"MetricsFile: GetIfEntry2 failed, the tree's 32-bit counts are written", status);
    }
    m.framesSent = r.framesTransmittedOk;
    m.framesReceived = r.framesReceivedOk;
    m.octetsSent = r.sentOctets;
    m.octetsReceived = r.receivedOctets;
  }
}

}  // namespace

void MetricsPublisher::Start() {
  path_[0] = 0;
  CRegistryKey parameters = RootKey().Open(kParametersKeyPath, platform::kKeyRead, false);
  if (parameters.LastError() != 0) return;
  uint32_t type = 0;
  uint32_t length = 0;
  uint8_t* data = parameters.QueryValue(kMetricsFileValueName, &type, &length, false);
  if (data == nullptr) return;
  char16_t raw[kMaxMetricsPathChars + 1] = {};
  // The text up to its terminator, when the value has one; a cut path would name another file.
  size_t chars = 0;
  while (chars < length / sizeof(char16_t) && (data[2 * chars] != 0 || data[2 * chars + 1] != 0)) {
    ++chars;
  }
  bool text = type == platform::kRegSz || type == platform::kRegExpandSz;
  if (text && chars <= kMaxMetricsPathChars) {
    std::memcpy(raw, data, chars * sizeof(char16_t));
  } else if (text) {
    ReportInfo(u"MetricsFile: the path is too long, no metrics file is written", length);
  } else if (!text) {
    ReportInfo(u"MetricsFile: not a REG_SZ or REG_EXPAND_SZ, no metrics file is written", type);
  }
  FreeBlock(data);
  if (type == platform::kRegExpandSz && raw[0] != 0) {
    uint32_t needed = platform::Os().kernel->ExpandEnvironmentStrings(raw, path_, std::size(path_));
    if (needed == 0 || needed > std::size(path_)) {
      path_[0] = 0;
      ReportInfo(u"MetricsFile: the path cannot be expanded, no metrics file is written", needed);
    }
  } else {
    std::memcpy(path_, raw, sizeof path_);
  }
}

void MetricsPublisher::Write(const CIFList& list, const CTrap* trap) {
  if (!On()) return;
  size_t interfaceCount = 0;
  size_t portCount = 0;
  for (LOGADAPTERNODE* node = list.Head(); node != nullptr; node = node->next) {
    if (node->element->SharesPortList()) continue;
    ++interfaceCount;
    for (PHYSADAPTERNODE* p = node->element->PortListHead(); p != nullptr; p = p->next) {
      ++portCount;
    }
  }
  auto* interfaces = static_cast<MetricsInterface*>(
      AllocateZeroed(sizeof(MetricsInterface) * (interfaceCount + 1)));
  auto* interfaceTexts =
      static_cast<InterfaceTexts*>(AllocateZeroed(sizeof(InterfaceTexts) * (interfaceCount + 1)));
  auto* ports = static_cast<MetricsPort*>(AllocateZeroed(sizeof(MetricsPort) * (portCount + 1)));
  auto* portTexts = static_cast<PortTexts*>(AllocateZeroed(sizeof(PortTexts) * (portCount + 1)));
  MetricsWriteResult result{platform::kErrorNotEnoughMemory, u"HeapAlloc"};
  if (interfaces != nullptr && interfaceTexts != nullptr && ports != nullptr &&
      portTexts != nullptr) {
    MetricsInput input;
    input.present = true;
    uint8_t overall = kConditionOther;
    size_t i = 0;
    size_t p = 0;
    for (LOGADAPTERNODE* node = list.Head(); node != nullptr; node = node->next) {
      if (node->element->Condition() > overall) overall = node->element->Condition();
      if (node->element->SharesPortList()) continue;
      FillInterface(*node->element, &interfaces[i], &interfaceTexts[i]);
      for (PHYSADAPTERNODE* n = node->element->PortListHead(); n != nullptr; n = n->next) {
        FillPort(*n->element, interfaces[i], &ports[p], &portTexts[p], &ifEntryReported_);
        ++p;
      }
      ++i;
    }
    input.overallCondition = overall;
    input.pollIntervalSeconds = State().pollInterval / 1000;
    platform::FileTime now{};
    platform::Os().kernel->GetSystemTimeAsFileTime(&now);
    input.cycleFileTime = uint64_t{now.high} << 32 | now.low;
    input.interfaces = interfaces;
    input.interfaceCount = i;
    input.ports = ports;
    input.portCount = p;
    input.interfaceCounters = true;
    input.trapRecordsRemoved = trap != nullptr ? trap->Writer().Removed() : 0;
    text_.Clear();
    RenderPrometheus(input, &text_);
    if (!text_.Failed()) result = WriteMetricsFile(path_, text_.Data(), text_.Size());
  }
  FreeBlock(interfaces);
  FreeBlock(interfaceTexts);
  FreeBlock(ports);
  FreeBlock(portTexts);
  if (result.error == 0) {
    if (failing_) ReportInfo(u"MetricsFile: written again", 0);
    failing_ = false;
    return;
  }
  if (failing_) return;
  failing_ = true;
  BoundedText<96> message;
  message.Add(u"MetricsFile: failure to write, at ").Add(result.failedCall);
  Report(kReportValueNotWritten, message.Text(), result.error);
}

}  // namespace crv

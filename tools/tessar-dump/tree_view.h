// What an administrator looks at in a decoded tree: the interfaces, their ports with link,
// speed, duplex, counters and firmware, and the trap records, taken from the records that
// decode cleanly. The live view and the metrics are both drawn from it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tessar_decode.h"

namespace tessar {

struct PortView {
  std::string valueName;  // "PhysAdapter001"
  uint32_t portNumber = 0;
  uint32_t interfaceIndex = 0;
  uint32_t slot = 0;  // 0 when unknown
  uint32_t portInCard = 0;
  std::string mac;          // "00:1B:21:A0:10:01"
  std::string pciLocation;  // "0000:05:00.0"
  uint32_t pciId = 0;       // vendor id in the high half, device id in the low half
  uint32_t subsystemId = 0;
  std::string description;
  std::string partNumber;
  std::string firmware;
  uint32_t linkCondition = 0;  // 1 unknown, 2 ok, 4 link failure
  uint32_t duplex = 0;         // 1 unknown, 2 half, 3 full
  uint64_t speedBitsPerSecond = 0;
  uint32_t framesSent = 0;
  uint32_t framesReceived = 0;
  uint32_t octetsSent = 0;
  uint32_t octetsReceived = 0;
  // The Ethernet statistics by record field name, in record order.
  std::vector<std::pair<std::string, uint32_t>> ethernet;
  // The interface that lists this port: its connection name (its description when it has
  // none) and map number; "" and 0 when no interface lists it.
  std::string interfaceName;
  uint32_t interfaceMapNumber = 0;
};

struct InterfaceView {
  std::string valueName;  // "InterfaceMap001"
  uint32_t mapNumber = 0;
  std::string name;  // connection name, or the description when it has none
  std::string description;
  std::string mac;
  std::string ipv4;
  uint32_t grouping = 0;   // 1 not yet known, 2 single adapter, 4 team
  uint32_t condition = 0;  // 1 other, 2 ok, 4 failed
  uint32_t status = 0;     // 1 other, 2 link ok, 5 link failure
  uint64_t speedBitsPerSecond = 0;
  uint32_t portCount = 0;
  uint32_t portsWithLink = 0;
  std::vector<uint32_t> portNumbers;
};

struct TrapView {
  std::string key;        // "Trap_ConnectivityLost"
  std::string name;       // "TrapData01DC5F..."
  uint64_t fileTime = 0;  // when it was raised, from its name
  uint32_t code = 0;
  std::string kind;  // "connectivity lost", or "" for an unknown code
  uint32_t portNumber = 0;
  uint32_t slot = 0;
  uint32_t teamMapNumber = 0;
  uint32_t teamPortsWithLink = 0;
  std::string description;
  std::string mac;  // the interface's
};

struct TreeView {
  bool present = false;           // false: no tree at all
  uint32_t overallCondition = 0;  // 0 when the record is missing
  uint32_t pollIntervalSeconds = 0;
  uint64_t cycleFileTime = 0;             // when the last cycle finished; 0 when not written
  std::vector<InterfaceView> interfaces;  // in the tree's order
  std::vector<PortView> ports;
  std::vector<TrapView> traps;      // oldest first
  uint32_t trapRecordsRemoved = 0;  // by the agent's limit, since it started
};

TreeView ViewOf(const DecodedKey& root);
inline TreeView NoTree() { return TreeView{}; }

// Short readable words for the coded numbers ("ok", "failure", "full", ...).
std::string LinkWord(uint32_t linkCondition);
std::string DuplexWord(uint32_t duplex);

// A record text as printable UTF-8: read as Windows-1252 (the code page the agent writes
// them in), bytes it leaves undefined as U+FFFD, control bytes as '?'.
std::string TextOfField(const DecodedValue& value, const DecodedField& field);

// --- Metrics -------------------------------------------------------------------------------

// The view in Prometheus' text exposition format: every family with its HELP and TYPE lines,
// names prefixed "crvnic_", base units, "_total" for counters, ports labelled by interface,
// port number, slot, PCI location and MAC address.
std::string RenderPrometheus(const TreeView& view);

// Writes text to path through a temporary file in the same directory (path, a random part
// and ".tmp"), created only where nothing has that name and renamed over path, so a reader
// sees the old file or the new one, never a part, and nothing planted there is followed.
// False with a message when it fails; path is then left as it was.
bool WriteFileReplacing(const std::string& path, const std::string& text, std::string* error);

// --- Live view -------------------------------------------------------------------------------

// Which of a port's shown columns differ between two reads.
struct PortChanges {
  bool isNew = false;  // no port with that number before
  bool link = false;
  bool speed = false;
  bool duplex = false;
  bool errors = false;  // any Ethernet error counter
  bool firmware = false;
};
PortChanges CompareOwnPort(const PortView* before, const PortView& now);

// The trap records of now that before did not hold, oldest first (all of them without before).
std::vector<TrapView> NewTraps(const TreeView* before, const TreeView& now);

// One frame of the live view: interfaces, a table of ports with changed cells marked '*'
// and the number of a port or interface that was not there before marked '+' (ports are
// matched by port number, interfaces by map number: the numbers their records are filed
// under). Texts are cut to their column between two characters.
std::string RenderWatchFrame(const TreeView* before, const TreeView& now);
// One line per trap record: when it was raised, its kind, port and slot, description.
std::string RenderTrapLine(const TrapView& trap);

}  // namespace tessar

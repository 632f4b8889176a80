// Builds the records of every API of the machine from an adapter described once
// (sim_adapter.h): the interface row and addresses (SimNetwork), the NDIS device with its
// standard OIDs, the PnP node (and its PCI parent for the bus-enumerated kinds), the network
// class key with NetCfgInstanceId and the speed/duplex keywords, the Enum keys, the TCP/IP
// interface parameters and the network connection key. SetAdapterLink and SetAdapterSpeed
// change the dynamic answers (NDIS and interface row together) as a link change does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/sim/state/sim_adapter.h"

namespace sim {

class Machine;

// Describes an adapter to every API of the machine (see the top of this file); an adapter of
// the same GUID is replaced. The returned record lives until the adapter is replaced or
// removed.
AdapterRecord& AddAdapter(Machine& machine, const SimAdapter& adapter);
// A hot removal: the NDIS device and the interface row go, the node (and a PCI parent of its
// own) is no longer present; registry keys stay, as Windows keeps them. False when unknown.
bool RemoveAdapter(Machine& machine, std::u16string_view guid);
// A link change: connect status, link state, duplex and speed answers, and the interface
// row's operational status, speed and last change. False when the GUID is unknown.
bool SetAdapterLink(Machine& machine, std::u16string_view guid, bool up);
// A renegotiated speed and duplex (answers only change while the link is up).
bool SetAdapterSpeed(Machine& machine, std::u16string_view guid, uint64_t speedBps,
                     SimDuplex duplex);

// Derived texts, for tests that state what the machine shows.
std::u16string DeriveInstanceId(const SimAdapter& adapter);
// "PCI bus B, device D, function F", or "PCI Slot S (PCI bus B, device D, function F)".
std::u16string PciLocationText(uint32_t bus, uint32_t device, uint32_t function,
                               std::optional<uint32_t> slot);
// The ParentIdPrefix of the adapter's PCI parent, which starts the instance part of its
// children's IDs ("5&2A4C3F61&0"); for the bus-enumerated kinds.
std::u16string ParentIdPrefixFor(const SimAdapter& adapter);
// Whether the adapter's driver has the private query device (by service name).
bool HasPrivateQueryDevice(const SimAdapter& adapter);

}  // namespace sim

// The parts of the machine's records that AddAdapter and the link changes derive from an
// adapter's description: instance IDs and hardware IDs, the PnP nodes, the NDIS device's
// answers and the interface rows. Internal to the adapter builder (adapter_builder.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/network_sim.h"
#include "platform/sim/state/sim_adapter.h"

namespace sim {

bool IsMellanox(AdapterKind kind);
// MLX4, IBA, the L2ND kinds and Solarflare ports sit below a PCI function node of their own.
bool HasPciParent(AdapterKind kind);
// The PCI function's hardware IDs, the most specific first.
std::vector<std::u16string> PciHardwareIds(const SimAdapter& adapter);
// The connection's name: as given, or "Ethernet <ifIndex>".
std::u16string ConnectionName(const SimAdapter& adapter);
// The friendly name: as given, or the description.
std::u16string FriendlyName(const SimAdapter& adapter);
// "a\\b".
std::u16string JoinKeyPath(std::u16string_view a, std::u16string_view b);
// Dotted decimal of an address in network order.
std::u16string Ipv4Text(uint32_t address);

// The adapter's interface row, without the parts that follow the link (ApplyLinkToRow).
SimInterface DeriveInterface(const SimAdapter& adapter);
// The row of an NDIS filter bound to an adapter: the adapter's row under an index and a
// description of its own, no TCP/IP binding, no addresses.
SimInterface DeriveFilterInterface(const SimAdapter& adapter, const SimInterface& adapterRow,
                                   const std::u16string& filter, uint32_t index);
// The parts of the interface row that follow the link.
void ApplyLinkToRow(const SimAdapter& adapter, platform::MibIfRow& row, uint32_t lastChange);
// The NDIS answers that follow the link, speed and duplex.
void ApplyLinkToNdis(const SimAdapter& adapter, NdisDevice& device);
// Every answer of the adapter's NDIS device (and its private query device).
void DeriveNdis(const SimAdapter& adapter, NdisDevice& device);
// The PCI function node above a bus-enumerated port.
DevNode DeriveParent(const SimAdapter& adapter);
// The location text: as given (none when empty), or derived by kind.
std::optional<std::u16string> DeriveLocation(const SimAdapter& adapter);

}  // namespace sim

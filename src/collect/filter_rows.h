// Telling the interface table's filter rows from adapters by their descriptions, for when
// the system does not say which rows are filters.
#pragma once

#include "platform/ip_helper.h"

namespace crv {

// Whether row is what NDIS lists for a filter bound to adapter: the adapter's physical
// address, and a description made of the adapter's, the filter's name and an instance
// number, as in "Intel(R) Ethernet X710-QoS Packet Scheduler-0000".
bool DescribesFilterOf(const platform::MibIfRow& row, const platform::MibIfRow& adapter);

}  // namespace crv

// Generated servers for the benchmarks: a given number of managed interfaces made of the
// loopback, single ports, teams of two member ports, and VLAN interfaces, four to a team of
// two member ports, all on Intel PCI ports whose firmware version the driver answers (so no
// vendor library is loaded). As Windows lists them, the interface table holds the rows of
// four NDIS filters beside every adapter (before it for every other single port) and the
// team members' own rows, without TCP/IP. The server is a scenario file, so that nicsim runs the
// same machine the benchmarks measure.
#pragma once

#include <cstdint>
#include <string>

namespace crvbench {

struct ServerShape {
  uint32_t managed = 0;    // interfaces the agent manages: all of the below and the loopback
  uint32_t singles = 0;    // single ports
  uint32_t teams = 0;      // team interfaces, two member ports each
  uint32_t vlans = 0;      // VLAN interfaces
  uint32_t vlanTeams = 0;  // teams carrying the VLANs, two member ports each
  uint32_t ports = 0;      // physical ports
};

// A quarter teams, a quarter VLANs, the rest single ports and the loopback (at least 4); from
// 64 interfaces on, 16 teams and 48 VLANs at most, so that NIC Teaming's answer fits what the
// agent reads of it.
ServerShape ShapeFor(uint32_t managedInterfaces);

// The scenario file of that server: poll interval pollMs, run for durationMs. Every link is
// up, apart from every eighth single port, whose cable is out from the start.
std::string GenerateServerScenario(uint32_t managedInterfaces, uint32_t pollMs,
                                   uint64_t durationMs);

}  // namespace crvbench

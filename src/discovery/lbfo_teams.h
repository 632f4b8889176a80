// Team membership from Windows NIC Teaming, read through WMI (namespace root\StandardCimv2)
// once per interface list build: the teams (MSFT_NetLbfoTeam), their member adapters
// (MSFT_NetLbfoTeamMember), their team interfaces with VLAN ids (MSFT_NetLbfoTeamNic), and the
// interface GUIDs of the adapters these name (MSFT_NetAdapter, which lists every adapter),
// joined to the miniports by GUID.
//
// Nothing is trusted blindly: a team whose answer does not fit (a member that is no present
// adapter, no team interface present, a VLAN id outside 1-4094, an adapter named twice) leaves
// all its ports plain. A read that fails, or any answer left out, is reported once per build.
// WBEM_S_TIMEDOUT from a provider still loading is waited on, within a budget per read.
#pragma once

#include <cstdint>

namespace crv {

class CMiniportList;

// Teaming modes and member administrative modes as the classes state them.
constexpr uint32_t kLbfoModeStatic = 0;
constexpr uint32_t kLbfoModeSwitchIndependent = 1;
constexpr uint32_t kLbfoModeLacp = 2;
constexpr uint32_t kLbfoAdminActive = 0;
constexpr uint32_t kLbfoAdminStandby = 1;

// What one read keeps of NIC Teaming's answer: teams, members and team interfaces beyond these
// are left out (reported), and the ports they describe stay plain.
constexpr uint32_t kLbfoMaxTeams = 32;
constexpr uint32_t kLbfoMaxMembers = 64;
constexpr uint32_t kLbfoMaxTeamNics = 64;

// Reads the teams and fills the team fields of the list's miniports; miniports outside a
// fitting team keep "no team". Returns the number of teams applied; *read (when given) says
// whether the teams could be read at all (false: no WMI, no namespace, a failed query, or
// providers that gave nothing within the read's time budget).
uint32_t ApplyLbfoTeams(CMiniportList& miniports, bool* read = nullptr);

// Whether the teams can be read now, without applying them: the probe that decides to
// rebuild a model built while they could not be.
bool LbfoTeamsReadable();

// The stable team index of a team name (the same name gives the same index in every build;
// never 0xFFFFFFFF).
uint32_t LbfoTeamIndex(const char16_t* teamName);

}  // namespace crv

// Whether a folder may hold a library that the agent, running as LocalSystem, loads: its DACL
// grants the rights to write, append, create, take ownership of or change the permissions of
// it (or of what it holds) to no one but Administrators, SYSTEM, TrustedInstaller and CREATOR
// OWNER. Anyone else with such a right could plant a library that would run as the system.
#pragma once

#include <cstdint>

namespace crv {

enum class FolderTrust { kTrusted, kWritableByOthers, kUnreadable };

// Reads the folder's DACL (GetNamedSecurityInfoW) and walks it. *status: the call's error
// for kUnreadable, else 0.
FolderTrust CheckFolderTrust(const char16_t* folder, uint32_t* status);

// The walk over a DACL as Windows lays it out: true when an allow entry (inherit-only ones
// included: they reach the files inside) grants a write right to another trustee. Deny entries
// are not weighed. A DACL whose sizes do not hold together counts as writable.
bool AclGrantsWriteToOthers(const uint8_t* acl, uint32_t bytes);

}  // namespace crv

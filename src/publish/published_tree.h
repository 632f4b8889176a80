// Writers of the published tree: its keys, the single values, the cycle counter and the
// numbering of the numbered values.
#pragma once

#include <cstdint>

#include "publish/records.h"

namespace crv {

// Creates the tree's keys (volatile): the Interface chain, then the Ethernet pair when the
// list holds an Ethernet interface. The status of the last step attempted.
uint32_t CreateTree(bool hasEthernet);
// Status on the tree key and SoftwareRevisions on Interface.
void PublishStatus(uint32_t status, const SoftwareRevisionsRecord& revisions);
// Deletes the tree's keys, innermost first, stopping at the first deletion that fails (a
// trap key or another component's key below keeps its parent in place).
void DeleteTree(bool hasEthernet);

// Opens keyPath for writing just for this value; nothing is written when it does not open.
// The status of the open or of the write.
uint32_t WriteValue(const char16_t* keyPath, const char16_t* valueName, uint32_t type,
                    const void* data, uint32_t size);
uint32_t WriteDwordValue(const char16_t* keyPath, const char16_t* valueName, uint32_t value);
// InterfaceData_CycleTime: the system time now, written as the last value of a cycle.
uint32_t WriteCycleTime();
// A numbered value ("%s%03X") under keyPath.
uint32_t WriteNumberedValue(const char16_t* keyPath, const char16_t* prefix, uint32_t number,
                            const void* data, uint32_t size);

// The process-wide cycle counter: advanced at the start of each publication cycle; after a
// wrap it continues at 2, so that once past the first cycle it never reads 0 or 1 again.
uint32_t AdvanceCycleCounter();

// Numbers for the numbered values, restarting at 1 with every interface list.
void ResetNumbering();
uint32_t NextInterfaceMapNumber();
uint32_t NextPhysPortNumber();
uint32_t NextVlanMapNumber();

}  // namespace crv

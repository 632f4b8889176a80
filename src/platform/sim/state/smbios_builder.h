// The simulated machine's SMBIOS table, described by meaning and built into the raw structure
// bytes the firmware would hand over, and the WMI object that carries it
// ("MSSmBios_RawSMBiosTables" in root\wmi).
//
// The built table holds, in order: a system-information structure (type 1) when a product
// name is given; a system-slots structure (type 9, SMBIOS 2.6 layout with segment, bus and
// device/function) per slot; an on-board devices extended structure (type 41) per on-board
// device; and the end-of-table structure (type 127).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/state/wmi_sim.h"

namespace sim {

struct SmbiosSlot {
  uint16_t id = 0;
  std::string designation;  // "PCIe Slot 3"
  uint16_t segment = 0;
  uint8_t bus = 0;
  uint8_t devfn = 0;  // device << 3 | function
  uint8_t usage = 4;  // 3 available, 4 in use
};

struct SmbiosOnboardDevice {
  std::string designation;  // "NIC1"
  uint8_t type = 0x85;      // device type, bit 7 enabled: Ethernet
  uint8_t instance = 1;
  uint16_t segment = 0;
  uint8_t bus = 0;
  uint8_t devfn = 0;
};

struct SmbiosDescription {
  std::optional<std::string> productName;  // none: no system-information structure
  std::string manufacturer = "Simulated Systems";
  std::vector<SmbiosSlot> slots;
  std::vector<SmbiosOnboardDevice> onboard;
};

// The object's header properties.
struct SmbiosHeader {
  bool used20CallingMethod = false;
  uint8_t majorVersion = 3;
  uint8_t minorVersion = 4;
  uint8_t dmiRevision = 0;
};

// The structure table (without the 8-byte header the agent puts in front of it).
std::vector<uint8_t> BuildSmbiosTable(const SmbiosDescription& description);

// Makes the table the machine's: the one MSSmBios_RawSMBiosTables object in root\wmi with
// SMBiosData (VT_ARRAY | VT_UI1 from 0), Size (VT_I4, the table's length),
// Used20CallingMethod (VT_BOOL), SmbiosMajorVersion, SmbiosMinorVersion and DmiRevision
// (VT_UI1). Replaces an earlier table.
WmiObject& InstallSmbiosTable(SimWmi& wmi, const std::vector<uint8_t>& table,
                              const SmbiosHeader& header = {});
WmiObject& InstallSmbios(SimWmi& wmi, const SmbiosDescription& description,
                         const SmbiosHeader& header = {});

}  // namespace sim

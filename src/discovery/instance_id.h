// Reading PnP device texts: the kinds of device instance IDs the agent manages, the PCI
// identifiers written in instance and hardware IDs, and the location texts of the Mellanox
// bus driver and of a PCI parent. Pure text work, so that it can be exercised on any input.
#pragma once

#include <cstdint>

namespace crv {

// Scans text against a pattern as the C runtime's swscanf does for the few conversions the
// agent's patterns use: %x (hexadecimal, an optional sign and 0x prefix), %d (decimal, an
// optional sign), a blank (any run of white space, also none) and literal characters. Each
// conversion stores into the next field as soon as it is read. Returns the number of fields
// stored; the scan stops at the first mismatch.
int ScanText(const char16_t* text, const char16_t* pattern, uint32_t* const* fields,
             int fieldCount);

// PCI identifiers as the agent keeps them.
struct PciIdentifiers {
  uint32_t pciId = 0;        // vendor in the high half, device in the low half for PCI
  uint32_t subsystemId = 0;  // the SUBSYS_ number: subsystem device high, vendor low
};

// Whether an upper-case instance ID is of a kind the agent manages (PCI functions, the L2ND
// functions of the virtual bus drivers, Mellanox and IP over InfiniBand ports, Solarflare).
bool IsManagedInstanceId(const char16_t* upperInstanceId);
// The Solarflare adapters ("VEN_1924" anywhere in the ID).
bool IsSolarflareInstanceId(const char16_t* upperInstanceId);
// The ports of the Mellanox bus drivers (MLX4 Ethernet, IPoIB).
bool IsMellanoxInstanceId(const char16_t* upperInstanceId);

// Identifiers from an upper-case instance ID: the PCI form (PCI id = vendor << 16 | device)
// or one of the three L2ND forms of the virtual bus drivers (PCI id = the number after PCI_
// as written). False when no form matches; ids is then unchanged.
bool ParseInstanceIdentifiers(const char16_t* upperInstanceId, PciIdentifiers* ids);
// Identifiers from a PCI hardware ID ("PCI\VEN_..&DEV_..&SUBSYS_..&REV_.."), as for the PCI
// form above. False when it does not match; ids is then unchanged.
bool ParsePciHardwareId(const char16_t* hardwareId, PciIdentifiers* ids);

// The port number of a Mellanox bus location text ("MLX4 bus 3, device 0, function 0,
// port 2", hexadecimal numbers); port is written only when the text reaches it.
void ParseMellanoxPort(const char16_t* location, uint32_t* port);
// Bus, device and function of a PCI parent's location text ("PCI bus 5, device 0,
// function 1", decimal); each field is written as far as the text matches.
void ParseParentLocation(const char16_t* location, uint32_t* bus, uint32_t* device,
                         uint32_t* function);

}  // namespace crv

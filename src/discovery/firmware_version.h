// The firmware version of a physical adapter: a dispatcher that picks one reading method by
// the adapter's PCI identifier word and driver family, and the methods, each asking the
// adapter's driver (vendor-defined NDIS OIDs), a vendor management library, or WMI. Every
// method writes the miniport's version text field (CMiniport::FirmwareVersion, 32 wide
// characters with the terminator; longer texts are cut) and leaves it as it was on failure.
// Data collection thread only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crv {

class CMiniport;

// The adapter's firmware version as ANSI text, copied into out (outBytes bytes, always
// terminated when outBytes > 0): the version text field after the chosen method, or "n/a"
// when the Intel method's query fails or answers 0; the field unchanged when no method fits.
void GetFirmwareVersion(CMiniport& miniport, char* out, size_t outBytes);

// Through the driver's vendor OIDs (discovery/firmware_version.cc).
// The Intel method alone tells whether it found a version: false when its query failed or
// answered 0 (the dispatcher then answers "n/a").
bool GetIntelFWVersion(CMiniport& miniport);
void GetNetXenFWVersion(CMiniport& miniport);
void GetEmulexFWVersion(CMiniport& miniport);
void GetMellanoxFWVersion(CMiniport& miniport);
// Through qlmapia.dll and bmapia.dll (discovery/library_firmware.cc).
void GetQLFWVersion(CMiniport& miniport);
void GetBCFWVersion(CMiniport& miniport);
// Through WMI's EFX_Port objects (discovery/efx_firmware.cc).
void GetSolarflareFWVersion(CMiniport& miniport);

constexpr size_t kEfxFirmwareChars = 256;
// Finds the external Solarflare port with this MAC address and copies its "mcfwversion" into
// out (kEfxFirmwareChars wide characters; a later matching port overwrites an earlier one,
// out is left alone when none matches). 1 when the WMI query ran to its end, 0 when WMI could
// not be reached or the ports did not come within the read's 30 s budget (WBEM_S_TIMEDOUT).
uint32_t GetEfxFirmwareByMac(char16_t* out, const uint8_t* mac);

}  // namespace crv

// libFuzzer entry for the PnP text readers: instance IDs (kinds and identifier forms),
// hardware IDs and the Mellanox and PCI parent location forms. The input is UTF-16LE text.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/text.h"
#include "discovery/instance_id.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char16_t> text(size / 2 + 1, 0);
  for (size_t i = 0; i + 1 < size; i += 2) {
    text[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }
  const char16_t* raw = text.data();

  crv::PciIdentifiers ids;
  crv::ParsePciHardwareId(raw, &ids);
  uint32_t port = 0, bus = 0, device = 0, function = 0;
  crv::ParseMellanoxPort(raw, &port);
  crv::ParseParentLocation(raw, &bus, &device, &function);

  // The agent reads instance IDs in upper case.
  crv::UpperCaseInPlace(text.data());
  crv::IsManagedInstanceId(raw);
  crv::IsSolarflareInstanceId(raw);
  crv::IsMellanoxInstanceId(raw);
  crv::ParseInstanceIdentifiers(raw, &ids);
  return 0;
}

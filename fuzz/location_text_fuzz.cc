// libFuzzer entry for the location text parse of the PnP adapter records. The first byte
// chooses the Mellanox form; the rest is UTF-16LE text.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "discovery/location_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  bool mellanox = (data[0] & 1) != 0;
  std::vector<char16_t> text((size - 1) / 2 + 1, 0);
  for (size_t i = 1; i + 1 < size; i += 2) {
    text[(i - 1) / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }
  crv::PciLocation location;
  crv::ParseLocationText(text.data(), mellanox, &location);
  return 0;
}

// The PCI location of an adapter from its PnP location text ("PCI Slot 3 (PCI bus 5, device 0,
// function 1)", "PCI bus 2, device 0, function 1", or the Mellanox bus form "MLX4 bus 5,
// device 0, function 0, port 2"). Pure text work, so that it can be exercised on any input.
#pragma once

#include <cstdint>

namespace crv {

struct PciLocation {
  uint32_t slot = 0;
  uint32_t bus = 0;
  uint32_t device = 0;
  uint32_t function = 0;
  uint32_t port = 0xFFFFFFFFu;
};

// Reads up to four decimal numbers from the text, from its fifth character on for a
// Mellanox port (skipping "MLX4") and from its start otherwise, stopping at the first scan
// without a digit. With fewer than four numbers the slot is 0 and bus, device and function
// are the first three (0xFFFFFFFF for a number not found); with four they are slot, bus,
// device and function, or for a Mellanox port bus, device, function and port (the slot then
// 0). The port is written only in that last case.
void ParseLocationText(const char16_t* text, bool mellanox, PciLocation* location);

}  // namespace crv

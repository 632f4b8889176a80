// libFuzzer entry for the SMBIOS structure walk: the input is a raw block (header, then the
// structure table) as the platform hands it over. Every structure's strings are read, the
// product name taken and the slot lookup table filled, then the platform inventory loads the
// same block.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_machine.h"
#include "inventory/platform_inventory.h"
#include "inventory/slot_inventory.h"
#include "inventory/smbios_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  crvfuzz::FuzzMachine fuzz;
  // An exact-size copy, so that a read past the end is caught even for an empty input.
  std::vector<uint8_t> block(data, data + size);
  crv::SmbiosTable table = crv::SmbiosTable::FromRawBlock(block.data(), block.size());
  crv::SmbiosStructure s;
  char narrow[16];
  char16_t wide[16];
  for (bool more = table.First(&s); more; more = table.Next(s, &s)) {
    for (unsigned number = 0; number < 4; ++number) {
      s.CopyString(static_cast<uint8_t>(number), narrow, sizeof(narrow));
      s.CopyString(static_cast<uint8_t>(number), wide, 16);
    }
    // A word that straddles the end of the formatted area is never read.
    static_cast<void>(s.Word(static_cast<size_t>(s.length) - 1));
  }
  char name[crv::kProductNameBytes];
  crv::ReadSystemProductName(table, name, sizeof(name));
  {
    crv::LocationLookupTable lookup;
    crv::FillLookupTable(table, &lookup);
  }
  crv::LoadPlatformInventoryFromTable(block.data(), block.size());
  fuzz.Done();
  return 0;
}

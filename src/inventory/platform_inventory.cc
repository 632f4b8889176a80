#include "inventory/platform_inventory.h"

#include <cstring>

#include "common/alloc.h"
#include "inventory/slot_inventory.h"
#include "inventory/smbios_table.h"

namespace crv {
namespace {

class PlatformInventory {
 public:
  ~PlatformInventory() { Discard(); }

  void Discard() {
    FreeBlock(block_);
    block_ = nullptr;
    blockBytes_ = 0;
    lookup_.Clear();
    extendedFields_ = 0;
    std::memcpy(productName_, kUnknownProductName, sizeof(kUnknownProductName));
  }

  uint32_t Load(const uint8_t* block, size_t blockBytes) {
    Discard();
    if (block == nullptr) return 0;
    // One spare byte so that an empty block still has storage of its own.
    block_ = static_cast<uint8_t*>(AllocateZeroed(blockBytes + 1));
    if (block_ == nullptr) return 0;
    std::memcpy(block_, block, blockBytes);
    blockBytes_ = blockBytes;
    SmbiosTable table = SmbiosTable::FromRawBlock(block_, blockBytes_);
    if (!ReadSystemProductName(table, productName_, sizeof(productName_))) return 0;
    FillLookupTable(table, &lookup_);  // a table cut short by memory still answers what it has
    return 1;
  }

  bool HasTable() const { return block_ != nullptr; }
  const LocationLookupTable& Lookup() const { return lookup_; }
  uint32_t ExtendedFields() const { return extendedFields_; }
  const char* ProductName() const { return productName_; }

 private:
  uint8_t* block_ = nullptr;
  size_t blockBytes_ = 0;
  LocationLookupTable lookup_;
  uint32_t extendedFields_ = 0;
  char productName_[kProductNameBytes] = "Unknown";
};

PlatformInventory g_inventory;

}  // namespace

uint32_t LoadPlatformInventory() {
  g_inventory.Discard();
  return 0;  // the machine's table is not read yet
}

void ResetPlatformInventory() { g_inventory.Discard(); }

uint32_t LoadPlatformInventoryFromTable(const uint8_t* block, size_t blockBytes) {
  return g_inventory.Load(block, blockBytes);
}

uint32_t LookupAdapterLocation(uint32_t segment, uint32_t bus, uint32_t device, uint32_t function,
                               uint32_t fourth, uint32_t* slot, uint32_t* extended1,
                               uint32_t* portPosition, uint32_t* extended2) {
  *slot = 0xFFFFFFFFu;
  *extended1 = 0xFFFFFFFFu;
  *portPosition = 0xFFFFFFFFu;
  if (!g_inventory.HasTable()) LoadPlatformInventory();
  const LocationRecord* record = g_inventory.Lookup().Find(segment, bus, device, function, fourth);
  if (record == nullptr) return 0;
  *slot = record->w2;
  *extended1 = record->w0;
  *portPosition = record->w1;
  *extended2 = record->w3;
  return 1;
}

uint32_t HasExtendedFields() { return g_inventory.ExtendedFields(); }

void GetSystemProductName(char* out, size_t outBytes) {
  if (outBytes == 0) return;
  size_t i = 0;
  for (const char* name = g_inventory.ProductName(); i + 1 < outBytes && name[i] != 0; ++i)
    out[i] = name[i];
  out[i] = 0;
}

}  // namespace crv

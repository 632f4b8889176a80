#include "inventory/platform_inventory.h"

#include <cstring>

#include "common/alloc.h"
#include "common/process_state.h"
#include "inventory/adapter_walk.h"
#include "inventory/slot_inventory.h"
#include "inventory/smbios_table.h"
#include "inventory/smbios_wmi.h"

namespace crv {
namespace {

constexpr uint32_t kCollectionFailed = 2;

class PlatformInventory {
 public:
  void Discard() {
    FreeBlock(block_);
    block_ = nullptr;
    blockBytes_ = 0;
    lookup_.Clear();
    adapters_.Clear();
    extendedFields_ = 0;
    std::memcpy(productName_, kUnknownProductName, sizeof(kUnknownProductName));
  }

  void Reset() {
    Discard();
    loaded_ = 0;
  }

  // The collection: 0 when it succeeded, kCollectionFailed otherwise.
  uint32_t Collect() {
    loaded_ = 1;
    Discard();
    uint8_t* block = nullptr;
    size_t blockBytes = 0;
    if (ReadRawSmbiosBlock(&block, &blockBytes) != 0) return kCollectionFailed;
    if (!Adopt(block, blockBytes)) return kCollectionFailed;
    return WalkNetworkAdapters(productName_, &adapters_);
  }

  // Takes a copy of a raw block without walking the adapters; 0 or kCollectionFailed.
  uint32_t LoadCopy(const uint8_t* block, size_t blockBytes) {
    loaded_ = 1;
    Discard();
    if (block == nullptr) return kCollectionFailed;
    // One spare byte so that an empty block still has storage of its own.
    auto* copy = static_cast<uint8_t*>(AllocateZeroed(blockBytes + 1));
    if (copy == nullptr) return kCollectionFailed;
    std::memcpy(copy, block, blockBytes);
    return Adopt(copy, blockBytes) ? 0 : kCollectionFailed;
  }

  bool HasTable() const { return block_ != nullptr; }
  bool Loaded() const { return loaded_ != 0; }
  const LocationLookupTable& Lookup() const { return lookup_; }
  const AdapterLocationTable& Adapters() const { return adapters_; }
  uint32_t ExtendedFields() const { return extendedFields_; }
  const char* ProductName() const { return productName_; }

 private:
  // Keeps the block (owned from now on) and reads what it says: the slots and on-board
  // devices, which stand on their own, then the product name. False when the table has no
  // system-information structure.
  bool Adopt(uint8_t* block, size_t blockBytes) {
    block_ = block;
    blockBytes_ = blockBytes;
    SmbiosTable table = SmbiosTable::FromRawBlock(block_, blockBytes_);
    FillLookupTable(table, &lookup_);  // a table cut short by memory still answers what it has
    return ReadSystemProductName(table, productName_, sizeof(productName_));
  }

  uint8_t* block_ = nullptr;
  size_t blockBytes_ = 0;
  LocationLookupTable lookup_;
  AdapterLocationTable adapters_;
  uint32_t loaded_ = 0;
  uint32_t extendedFields_ = 0;
  char productName_[kProductNameBytes] = "Unknown";
};

// Never destroyed, as the rest of the process-wide state: at process exit the module may
// outlive the heap its blocks came from.
PlatformInventory& Inventory() {
  static PlatformInventory* inventory = [] {
    RegisterStateReset(&ResetPlatformInventory);
    return new PlatformInventory();
  }();
  return *inventory;
}

}  // namespace

uint32_t LoadPlatformInventory() { return Inventory().Collect() == 0 ? 1 : 0; }

void ResetPlatformInventory() { Inventory().Reset(); }

uint32_t LoadPlatformInventoryFromTable(const uint8_t* block, size_t blockBytes) {
  return Inventory().LoadCopy(block, blockBytes) == 0 ? 1 : 0;
}

uint32_t LookupAdapterLocation(uint32_t segment, uint32_t bus, uint32_t device, uint32_t function,
                               uint32_t fourth, uint32_t* slot, uint32_t* extended1,
                               uint32_t* portPosition, uint32_t* extended2) {
  *slot = kUnknownLocation;
  *extended1 = kUnknownLocation;
  *portPosition = kUnknownLocation;
  if (!Inventory().HasTable()) Inventory().Collect();
  const LocationRecord* record = Inventory().Lookup().Find(segment, bus, device, function, fourth);
  if (record == nullptr) return 0;
  *slot = record->w2;
  *extended1 = record->w0;
  *portPosition = record->w1;
  *extended2 = record->w3;
  return 1;
}

uint32_t HasExtendedFields() {
  if (!Inventory().Loaded()) Inventory().Collect();
  return Inventory().ExtendedFields();
}

void GetSystemProductName(char* out, size_t outBytes) {
  if (outBytes == 0) return;
  if (!Inventory().Loaded()) Inventory().Collect();
  size_t i = 0;
  for (const char* name = Inventory().ProductName(); i + 1 < outBytes && name[i] != 0; ++i)
    out[i] = name[i];
  out[i] = 0;
}

const AdapterLocationTable& PlatformAdapterLocations() { return Inventory().Adapters(); }

}  // namespace crv

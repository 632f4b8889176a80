#include "inventory/slot_inventory.h"

#include "common/parse_first_number.h"
#include "common/text.h"

namespace crv {
namespace {

constexpr uint8_t kSlotMinLength = 0x11;     // through the slot's device/function byte
constexpr uint8_t kOnboardMinLength = 0x0B;  // through the device's device/function byte
constexpr uint32_t kNoSmbiosSegment = 0xFFFF;
constexpr uint8_t kNoSmbiosBus = 0xFF;
constexpr uint8_t kNoSmbiosDevFn = 0xFF;
constexpr uint32_t kFunctionsPerDevice = 8;
constexpr size_t kLocationTextChars = 1024;  // a 2048-byte property buffer

uint32_t SegmentKey(uint16_t segment) { return segment == 0 ? kUnknownLocation : segment; }

LocationRecord NewRecord(const SmbiosStructure& s, uint8_t descriptionString, uint32_t slot,
                         uint32_t position) {
  LocationRecord record{};
  s.CopyString(descriptionString, record.description, kLocationDescriptionChars);
  record.w0 = kUnknownLocation;
  record.w1 = position;
  record.w2 = slot;
  record.w3 = kUnknownLocation;
  return record;
}

bool FileSlot(const SmbiosStructure& s, LocationLookupTable* table) {
  if (s.length < kSlotMinLength) return true;
  const uint8_t designation = s.Byte(4);
  const uint16_t slotId = s.Word(9);
  const uint16_t segment = s.Word(0x0D);
  const uint8_t bus = s.Byte(0x0F);
  const uint8_t devfn = s.Byte(0x10);
  if (segment == kNoSmbiosSegment || (bus == kNoSmbiosBus && devfn == kNoSmbiosDevFn)) return true;
  uint32_t device = devfn >> 3;
  for (uint32_t function = 0; function < kFunctionsPerDevice; ++function) {
    LocationRecord record = NewRecord(s, designation, slotId, function + 1);
    uint32_t bySegment[5] = {SegmentKey(segment), bus, device, function, kUnknownLocation};
    if (!table->Insert(bySegment, record)) return false;
    if (slotId != 0 && slotId != bySegment[0]) {
      uint32_t bySlot[5] = {slotId, bus, device, function, kUnknownLocation};
      if (!table->Insert(bySlot, record)) return false;
    }
  }
  return true;
}

bool FileOnboardDevice(const SmbiosStructure& s, LocationLookupTable* table) {
  if (s.length < kOnboardMinLength) return true;
  const uint8_t designation = s.Byte(4);
  const uint8_t instance = s.Byte(6);
  const uint16_t segment = s.Word(7);
  const uint8_t bus = s.Byte(9);
  const uint8_t devfn = s.Byte(0x0A);
  if (segment == kNoSmbiosSegment || (bus == kNoSmbiosBus && devfn == kNoSmbiosDevFn)) return true;
  uint32_t keys[5] = {SegmentKey(segment), bus, static_cast<uint32_t>(devfn >> 3),
                      static_cast<uint32_t>(devfn & 7), kUnknownLocation};
  return table->Insert(keys, NewRecord(s, designation, 0, instance));
}

bool StartsWithNoCase(const char16_t* text, size_t maxChars, const char16_t* prefix) {
  size_t i = 0;
  for (; prefix[i] != 0; ++i) {
    if (i >= maxChars || FoldCase(text[i]) != FoldCase(prefix[i])) return false;
  }
  return true;
}

}  // namespace

bool LocationLookupTable::Insert(const uint32_t (&keys)[5], const LocationRecord& record) {
  if (Find(keys[0], keys[1], keys[2], keys[3], keys[4]) != nullptr) return true;
  LocationEntry* entry = NewObject<LocationEntry>();
  if (entry == nullptr) return false;
  for (int i = 0; i < 5; ++i) entry->keys[i] = keys[i];
  entry->record = record;
  auto* node = SinglyLinkedList<LocationEntry>::NewNode(entry);
  if (node == nullptr) {
    DeleteObject(entry);
    return false;
  }
  entries_.Append(node);
  return true;
}

const LocationRecord* LocationLookupTable::Find(uint32_t segment, uint32_t bus, uint32_t device,
                                                uint32_t function, uint32_t fourth) const {
  for (auto* node = entries_.Head(); node != nullptr; node = node->next) {
    const uint32_t* k = node->element->keys;
    if (k[0] == segment && k[1] == bus && k[2] == device && k[3] == function && k[4] == fourth)
      return &node->element->record;
  }
  return nullptr;
}

bool FillLookupTable(const SmbiosTable& smbios, LocationLookupTable* table) {
  SmbiosStructure s;
  for (bool more = smbios.First(&s); more; more = smbios.Next(s, &s)) {
    bool filed = true;
    if (s.type == kSmbiosTypeSystemSlots) filed = FileSlot(s, table);
    if (s.type == kSmbiosTypeOnboardDevicesExtended) filed = FileOnboardDevice(s, table);
    if (!filed) return false;
  }
  return true;
}

uint32_t ReadLocationNumbers(const char16_t* text, size_t maxChars, uint32_t (&numbers)[4]) {
  if (text == nullptr) return 0;
  char16_t copy[kLocationTextChars];
  size_t length =
      TextLengthBounded(text, maxChars < kLocationTextChars ? maxChars : kLocationTextChars - 1);
  for (size_t i = 0; i < length; ++i) copy[i] = text[i];
  copy[length] = 0;

  uint32_t found = 0;
  uint32_t position = 0;
  for (uint32_t& number : numbers) {
    uint32_t next = 0;
    number = ParseFirstNumber(copy + position, next);
    if (number == kNoNumber) break;
    ++found;
    position += next;
  }
  return found;
}

InventoryLocation ParseInventoryLocation(const char16_t* text, size_t maxChars) {
  InventoryLocation location;
  uint32_t numbers[4];
  uint32_t found = ReadLocationNumbers(text, maxChars, numbers);
  if (found == 4) {
    location.slot = numbers[0];
    location.bus = numbers[1];
    location.device = numbers[2];
    location.function = numbers[3];
  } else if (found == 3) {
    location.bus = numbers[0];
    location.device = numbers[1];
    location.function = numbers[2];
  }
  return location;
}

uint32_t ProductSlotNumber(const char* productName, uint32_t osSlot) {
  if (productName == nullptr) return osSlot;
  for (size_t i = 0; i < sizeof(kQd8ProductName); ++i) {
    if (productName[i] != kQd8ProductName[i]) return osSlot;  // the names' terminators too
  }
  if (osSlot == 4) return 6;
  if (osSlot == 6) return 4;
  return osSlot;
}

bool IsTw2MellanoxHardwareId(const char16_t* hardwareId, size_t maxChars) {
  constexpr char16_t kPrefix[] = u"PCI\\VEN_15B3&DEV_6746&SUBSYS_";
  constexpr size_t kPrefixChars = sizeof(kPrefix) / sizeof(kPrefix[0]) - 1;
  if (hardwareId == nullptr || !StartsWithNoCase(hardwareId, maxChars, kPrefix)) return false;
  return StartsWithNoCase(hardwareId + kPrefixChars, maxChars - kPrefixChars,
                          kTw2MellanoxSubsystemId);
}

}  // namespace crv

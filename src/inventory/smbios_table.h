// The machine's raw SMBIOS table, walked over a byte span that the inventory owns. Nothing
// here allocates or calls the platform, and nothing reads outside the span: the table comes
// from firmware and may be cut short or malformed anywhere.
//
// The raw block starts with an 8-byte header (calling-method flag, major and minor version,
// DMI revision, then the table length as a little-endian 32-bit word) followed by the
// structure table. Each structure is a formatted area (type at offset 0, the area's length
// at offset 1, handle at offsets 2-3) followed by its string set: zero-terminated strings,
// the set ending with an extra zero byte (a set with no strings is two zero bytes).
#pragma once

#include <cstddef>
#include <cstdint>

namespace crv {

constexpr size_t kSmbiosHeaderBytes = 8;
constexpr uint8_t kSmbiosTypeSystemInformation = 1;
constexpr uint8_t kSmbiosTypeSystemSlots = 9;
constexpr uint8_t kSmbiosTypeOnboardDevicesExtended = 41;

// One structure of the table. formatted[0 .. length) is inside the table; the strings run
// from strings up to end (exclusive), which is the start of the next structure, or the end
// of the table when the set's double zero is missing (the walk then stops after it).
struct SmbiosStructure {
  const uint8_t* formatted = nullptr;
  uint8_t type = 0;
  uint8_t length = 0;
  uint16_t handle = 0;
  const uint8_t* strings = nullptr;
  const uint8_t* end = nullptr;
  bool terminated = false;  // whether the string set ended with its double zero

  // The byte or little-endian word at offset of the formatted area; 0 when the area is too
  // short to hold it (older structures end before their later fields, and firmware writes 0
  // for a field it does not fill).
  uint8_t Byte(size_t offset) const;
  uint16_t Word(size_t offset) const;

  // String number `number` of the set copied into out (outBytes bytes, always terminated
  // when outBytes > 0, cut to fit). Number 0 is the empty string and answers true; a number
  // beyond the set, or a last string cut off by the end of the table, gives the empty string
  // and false.
  bool CopyString(uint8_t number, char* out, size_t outBytes) const;
  // The same widened to UTF-16 byte by byte; bytes above 0x7F (not ASCII) become '?'.
  bool CopyString(uint8_t number, char16_t* out, size_t outChars) const;
};

class SmbiosTable {
 public:
  SmbiosTable() = default;
  // A table over the structure bytes themselves (no header).
  SmbiosTable(const uint8_t* table, size_t tableBytes) : table_(table), size_(tableBytes) {}

  // The table of a raw block: its header's length word, cut to the bytes actually present
  // after the header. A block shorter than its header has no structures.
  static SmbiosTable FromRawBlock(const uint8_t* block, size_t blockBytes);

  // The first structure; false when the table holds none.
  bool First(SmbiosStructure* out) const;
  // The structure after current; false at the end of the table, after a structure whose
  // string set ran into the end of the table, or at a structure that does not fit (formatted
  // area shorter than 4 bytes or beyond the end of the table).
  bool Next(const SmbiosStructure& current, SmbiosStructure* out) const;
  // The n-th (0 for the first) structure of the type; false when there are fewer.
  bool Find(uint8_t type, uint32_t n, SmbiosStructure* out) const;

  size_t Size() const { return size_; }

 private:
  bool At(const uint8_t* start, SmbiosStructure* out) const;

  const uint8_t* table_ = nullptr;
  size_t size_ = 0;
};

constexpr size_t kProductNameBytes = 256;
constexpr char kUnknownProductName[] = "Unknown";

// The product name of the first system-information structure (the string numbered by its
// byte at offset 5; empty for number 0, beyond the set, or an area too short to hold it) into
// out. With no such structure out is "Unknown" and the answer is false.
bool ReadSystemProductName(const SmbiosTable& table, char* out, size_t outBytes);

}  // namespace crv

#include "inventory/smbios_table.h"

namespace crv {
namespace {

constexpr size_t kMinFormattedBytes = 4;  // type, length, handle

// Copies at most outBytes - 1 bytes of the zero-terminated run at text (never reading at or
// beyond limit) through put; false when the run reaches limit before its zero.
template <class Put>
bool CopyRun(const uint8_t* text, const uint8_t* limit, size_t outLimit, Put put) {
  size_t written = 0;
  const uint8_t* p = text;
  for (; p < limit && *p != 0; ++p) {
    if (written < outLimit) put(written++, *p);
  }
  put(written, 0);
  return p < limit;
}

// The start of string number `number` (1 and up) of s, or null when the set has fewer.
const uint8_t* FindString(const SmbiosStructure& s, uint8_t number) {
  const uint8_t* p = s.strings;
  // A set without strings is a single zero (before the closing one).
  if (p >= s.end || *p == 0) return nullptr;
  for (uint8_t k = 1; k < number; ++k) {
    while (p < s.end && *p != 0) ++p;
    if (p >= s.end) return nullptr;             // cut off by the end of the table
    ++p;                                        // past the terminator
    if (p >= s.end || *p == 0) return nullptr;  // the set's closing zero, or the table's end
  }
  return p;
}

}  // namespace

uint8_t SmbiosStructure::Byte(size_t offset) const {
  return offset < length ? formatted[offset] : 0;
}

uint16_t SmbiosStructure::Word(size_t offset) const {
  if (offset + 2 > length) return 0;
  return static_cast<uint16_t>(formatted[offset] | (formatted[offset + 1] << 8));
}

bool SmbiosStructure::CopyString(uint8_t number, char* out, size_t outBytes) const {
  if (outBytes == 0) return false;
  out[0] = 0;
  if (number == 0) return true;
  const uint8_t* text = FindString(*this, number);
  if (text == nullptr) return false;
  bool whole = CopyRun(text, end, outBytes - 1,
                       [out](size_t i, uint8_t c) { out[i] = static_cast<char>(c); });
  if (!whole) out[0] = 0;
  return whole;
}

bool SmbiosStructure::CopyString(uint8_t number, char16_t* out, size_t outChars) const {
  if (outChars == 0) return false;
  out[0] = 0;
  if (number == 0) return true;
  const uint8_t* text = FindString(*this, number);
  if (text == nullptr) return false;
  bool whole = CopyRun(text, end, outChars - 1, [out](size_t i, uint8_t c) {
    out[i] = c < 0x80 ? static_cast<char16_t>(c) : u'?';
  });
  if (!whole) out[0] = 0;
  return whole;
}

SmbiosTable SmbiosTable::FromRawBlock(const uint8_t* block, size_t blockBytes) {
  if (block == nullptr || blockBytes < kSmbiosHeaderBytes) return SmbiosTable();
  uint32_t length = static_cast<uint32_t>(block[4]) | (static_cast<uint32_t>(block[5]) << 8) |
                    (static_cast<uint32_t>(block[6]) << 16) |
                    (static_cast<uint32_t>(block[7]) << 24);
  size_t present = blockBytes - kSmbiosHeaderBytes;
  return SmbiosTable(block + kSmbiosHeaderBytes, length < present ? length : present);
}

bool SmbiosTable::At(const uint8_t* start, SmbiosStructure* out) const {
  const uint8_t* limit = table_ + size_;
  size_t left = static_cast<size_t>(limit - start);
  if (left < kMinFormattedBytes) return false;
  uint8_t length = start[1];
  if (length < kMinFormattedBytes || length > left) return false;
  SmbiosStructure s;
  s.formatted = start;
  s.type = start[0];
  s.length = length;
  s.handle = static_cast<uint16_t>(start[2] | (start[3] << 8));
  s.strings = start + length;
  // The set ends at the first pair of zero bytes after the formatted area.
  const uint8_t* p = s.strings;
  while (p + 1 < limit && !(p[0] == 0 && p[1] == 0)) ++p;
  if (p + 1 < limit) {
    s.end = p + 2;
    s.terminated = true;
  } else {
    s.end = limit;
    s.terminated = false;
  }
  *out = s;
  return true;
}

bool SmbiosTable::First(SmbiosStructure* out) const {
  if (table_ == nullptr) return false;
  return At(table_, out);
}

bool SmbiosTable::Next(const SmbiosStructure& current, SmbiosStructure* out) const {
  if (!current.terminated) return false;
  return At(current.end, out);
}

bool SmbiosTable::Find(uint8_t type, uint32_t n, SmbiosStructure* out) const {
  SmbiosStructure s;
  uint32_t count = 0;
  for (bool more = First(&s); more; more = Next(s, &s)) {
    if (s.type != type) continue;
    if (count == n) {
      *out = s;
      return true;
    }
    ++count;
  }
  return false;
}

bool ReadSystemProductName(const SmbiosTable& table, char* out, size_t outBytes) {
  if (outBytes == 0) return false;
  SmbiosStructure system;
  if (!table.Find(kSmbiosTypeSystemInformation, 0, &system)) {
    size_t i = 0;
    for (; i + 1 < outBytes && kUnknownProductName[i] != 0; ++i) out[i] = kUnknownProductName[i];
    out[i] = 0;
    return false;
  }
  system.CopyString(system.Byte(5), out, outBytes);
  return true;
}

}  // namespace crv

#include "publish/records.h"

#include "common/text.h"

namespace crv {
namespace {

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

// Writes prefix and then value in upper-case hexadecimal, zero-padded to at least `digits`
// digits, terminated. Returns the length, or 0 (empty buffer) when it does not fit.
size_t FormatPrefixedHex(const char16_t* prefix, uint64_t value, size_t digits, char16_t* buffer,
                         size_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  size_t needed = digits;
  while (needed < 16 && (value >> (4 * needed)) != 0) ++needed;
  size_t prefixLength = TextLength(prefix);
  size_t length = prefixLength + needed;
  if (length + 1 > capacity) {
    buffer[0] = 0;
    return 0;
  }
  for (size_t i = 0; i < prefixLength; ++i) buffer[i] = prefix[i];
  for (size_t i = 0; i < needed; ++i) {
    buffer[length - 1 - i] = kHexDigits[(value >> (4 * i)) & 0xF];
  }
  buffer[length] = 0;
  return length;
}

}  // namespace

const char16_t* TrapKeyName(uint32_t trapCode) {
  switch (trapCode) {
    case kTrapConnectivityLost:
      return kTrapConnectivityLostKey;
    case kTrapConnectivityRegained:
      return kTrapConnectivityRegainedKey;
    case kTrapRedundancyIncreased:
      return kTrapRedundancyIncreasedKey;
    case kTrapRedundancyReduced:
      return kTrapRedundancyReducedKey;
    default:
      return nullptr;
  }
}

size_t FormatNumberedValueName(const char16_t* prefix, uint32_t number, char16_t* buffer,
                               size_t capacity) {
  return FormatPrefixedHex(prefix, number, 3, buffer, capacity);
}

size_t FormatTrapValueName(uint64_t fileTime, char16_t* buffer, size_t capacity) {
  // High half then low half, each exactly eight digits: together the sixteen digits of the
  // whole 64-bit value.
  return FormatPrefixedHex(kTrapDataPrefix, fileTime, 16, buffer, capacity);
}

size_t FormatTrapValueName(platform::FileTime fileTime, char16_t* buffer, size_t capacity) {
  return FormatTrapValueName((uint64_t{fileTime.high} << 32) | fileTime.low, buffer, capacity);
}

}  // namespace crv

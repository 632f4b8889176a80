// Bytes of registry and property values as the simulated devices write them: UTF-16 texts
// with their terminators, lists of texts, little-endian words, and texts formatted to UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf.h"

namespace sim {

// The text and its terminator (REG_SZ).
std::vector<uint8_t> Utf16Bytes(std::u16string_view text);
// The texts, each terminated, and the list's terminator (REG_MULTI_SZ).
std::vector<uint8_t> MultiTextBytes(const std::vector<std::u16string>& texts);
// Writes a little-endian word at offset, growing the bytes to hold it.
void PutDword(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);

// printf into UTF-16; the texts formatted here are short (numbers and IDs).
std::u16string FormatText(const char* format, auto... args) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return crv::Utf8ToUtf16(buffer);
}

}  // namespace sim

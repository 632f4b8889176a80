// Picks decimal numbers out of location texts ("PCI bus 3, device 0, function 1").
#pragma once

#include <cstdint>

namespace crv {

constexpr uint32_t kNoNumber = 0xFFFFFFFFu;

// Returns the first decimal number in text and stores in nextIndex the index (in characters,
// from the start of text) of the first character after it. Everything before the first digit
// is skipped, a sign included, so the result is never negative; a number too large for a
// 32-bit signed long saturates at 0x7FFFFFFF as the C runtime's wcstol does. With no digit
// in the text the result is kNoNumber and nextIndex is left as it was.
uint32_t ParseFirstNumber(const char16_t* text, uint32_t& nextIndex);

}  // namespace crv

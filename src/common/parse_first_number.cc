#include "common/parse_first_number.h"

namespace crv {
namespace {
constexpr uint32_t kLongMax = 0x7FFFFFFFu;

bool IsDecimalDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
}  // namespace

uint32_t ParseFirstNumber(const char16_t* text, uint32_t& nextIndex) {
  if (text == nullptr) return kNoNumber;
  uint32_t i = 0;
  while (text[i] != 0 && !IsDecimalDigit(text[i])) ++i;
  if (text[i] == 0) return kNoNumber;

  uint32_t value = 0;
  for (; IsDecimalDigit(text[i]); ++i) {
    uint32_t digit = static_cast<uint32_t>(text[i] - u'0');
    // wcstol consumes every digit even after the value has overflowed.
    value = (value > (kLongMax - digit) / 10) ? kLongMax : value * 10 + digit;
  }
  nextIndex = i;
  return value;
}

}  // namespace crv

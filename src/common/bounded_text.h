// A text built in a fixed UTF-16 buffer of kChars characters: the pieces appended are cut
// where the buffer ends, and the text is always terminated. For report messages and event
// inserts, whose pieces come from the system and may be of any length.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ansi_text.h"

namespace crv {

template <size_t kChars>
class BoundedText {
  static_assert(kChars > 0);

 public:
  const char16_t* Text() const { return text_; }
  size_t Length() const { return length_; }

  BoundedText& Add(const char16_t* text) {
    while (text != nullptr && *text != 0 && length_ + 1 < kChars) text_[length_++] = *text++;
    text_[length_] = 0;
    return *this;
  }
  BoundedText& Decimal(uint32_t number) {
    char16_t digits[11];
    size_t count = 0;
    do {
      digits[count++] = static_cast<char16_t>(u'0' + number % 10);
      number /= 10;
    } while (number != 0);
    while (count > 0 && length_ + 1 < kChars) text_[length_++] = digits[--count];
    text_[length_] = 0;
    return *this;
  }
  BoundedText& Hex8(uint32_t number) {
    Add(u"0x");
    for (int shift = 28; shift >= 0 && length_ + 1 < kChars; shift -= 4) {
      text_[length_++] = u"0123456789ABCDEF"[(number >> shift) & 0xF];
    }
    text_[length_] = 0;
    return *this;
  }
  // An 8-bit text of a published record (at most maxBytes bytes), widened.
  BoundedText& Ansi(const char* bytes, size_t maxBytes) {
    char16_t wide[kChars];
    FromAnsiField(bytes, maxBytes, wide, kChars);
    return Add(wide);
  }

 private:
  char16_t text_[kChars] = {};
  size_t length_ = 0;
};

}  // namespace crv

// Conversions between UTF-16 and the system's ANSI code page into fixed fields, as the
// published records hold their texts.
#pragma once

#include <cstddef>

namespace crv {

// text converted into field (fieldBytes bytes), cut to fit and always terminated; an empty
// field when the conversion fails.
void ToAnsiField(const char16_t* text, char* field, size_t fieldBytes);

// The 8-bit text of bytes (up to its terminator, never beyond maxBytes) widened into
// text (textChars characters), always terminated; empty when the conversion fails.
void FromAnsiField(const char* bytes, size_t maxBytes, char16_t* text, size_t textChars);

}  // namespace crv

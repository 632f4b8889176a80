#include "common/text.h"

#include <cstring>

namespace crv {

char16_t FoldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  // Latin-1 capitals, except the multiplication sign.
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  return c;
}

size_t TextLength(const char16_t* text) {
  if (text == nullptr) return 0;
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

size_t TextLengthBounded(const char16_t* text, size_t max) {
  if (text == nullptr) return 0;
  size_t n = 0;
  while (n < max && text[n] != 0) ++n;
  return n;
}

int CompareNoCase(const char16_t* a, const char16_t* b) {
  if (a == nullptr) a = u"";
  if (b == nullptr) b = u"";
  for (;; ++a, ++b) {
    char16_t ca = FoldCase(*a);
    char16_t cb = FoldCase(*b);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

bool EqualsNoCase(const char16_t* a, const char16_t* b) { return CompareNoCase(a, b) == 0; }

int CompareNoCase(const char* a, const char* b) {
  auto fold = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
  for (;; ++a, ++b) {
    int ca = fold(static_cast<unsigned char>(*a));
    int cb = fold(static_cast<unsigned char>(*b));
    if (ca != cb) return ca - cb;
    if (ca == 0) return 0;
  }
}

void CopyBounded(char16_t* dest, size_t destChars, const char16_t* text) {
  if (dest == nullptr || destChars == 0) return;
  size_t n = TextLengthBounded(text, destChars - 1);
  for (size_t i = 0; i < n; ++i) dest[i] = text[i];
  dest[n] = 0;
}

void CopyBounded(char* dest, size_t destBytes, const char* text) {
  if (dest == nullptr || destBytes == 0) return;
  size_t n = text == nullptr ? 0 : strnlen(text, destBytes - 1);
  if (n != 0) std::memcpy(dest, text, n);
  dest[n] = 0;
}

bool ContainsText(const char16_t* text, const char16_t* needle) {
  if (text == nullptr || needle == nullptr) return false;
  if (*needle == 0) return true;
  for (; *text != 0; ++text) {
    const char16_t* t = text;
    const char16_t* n = needle;
    while (*n != 0 && *t == *n) {
      ++t;
      ++n;
    }
    if (*n == 0) return true;
  }
  return false;
}

bool EqualsText(const char16_t* a, const char16_t* b) {
  if (a == nullptr || b == nullptr) return a == b;
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

char16_t UpperCase(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  // Latin-1 small letters, except the division sign (ÿ has no capital in this block).
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  return c;
}

void LowerCaseInPlace(char16_t* text) {
  if (text == nullptr) return;
  for (; *text != 0; ++text) *text = FoldCase(*text);
}

void UpperCaseInPlace(char16_t* text) {
  if (text == nullptr) return;
  for (; *text != 0; ++text) *text = UpperCase(*text);
}

void LowerCaseInPlace(char* text) {
  if (text == nullptr) return;
  for (; *text != 0; ++text) {
    if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text + 32);
  }
}

}  // namespace crv

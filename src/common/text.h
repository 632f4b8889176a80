// UTF-16 text helpers for the agent's fixed buffers. Nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crv {

// Length in characters of a terminated text; 0 for null.
size_t TextLength(const char16_t* text);

// Length up to a terminator, never reading past max characters.
size_t TextLengthBounded(const char16_t* text, size_t max);

// Compares ignoring case (the Latin letters of the Basic and Latin-1 blocks).
int CompareNoCase(const char16_t* a, const char16_t* b);
bool EqualsNoCase(const char16_t* a, const char16_t* b);

// Same for 8-bit texts (_stricmp, ASCII letters).
int CompareNoCase(const char* a, const char* b);

// Copies text into dest of destChars characters, cutting it to fit; dest is always
// terminated when destChars > 0.
void CopyBounded(char16_t* dest, size_t destChars, const char16_t* text);
void CopyBounded(char* dest, size_t destBytes, const char* text);

char16_t FoldCase(char16_t c);

// Whether needle occurs in text, comparing exactly (case-sensitive).
bool ContainsText(const char16_t* text, const char16_t* needle);
bool EqualsText(const char16_t* a, const char16_t* b);

// Upper-case counterpart of FoldCase (the same letters).
char16_t UpperCase(char16_t c);

// Changes a terminated text in place to lower or upper case (the letters FoldCase knows).
void LowerCaseInPlace(char16_t* text);
void UpperCaseInPlace(char16_t* text);
// Same for an 8-bit text (ASCII letters only, as the C runtime's _strlwr in the C locale).
void LowerCaseInPlace(char* text);

}  // namespace crv

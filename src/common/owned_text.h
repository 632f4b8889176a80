// Owned copies of UTF-16 texts, allocated through the agent's allocation helper.
#pragma once

#include <cstddef>

namespace crv {

// A new terminated copy of text (an empty text for null) that the caller frees with
// FreeBlock; null when the storage cannot be had (the last error then says why).
char16_t* DuplicateText(const char16_t* text);

// Same for at most maxChars characters of text; the copy is always terminated.
char16_t* DuplicateTextBounded(const char16_t* text, size_t maxChars);

}  // namespace crv

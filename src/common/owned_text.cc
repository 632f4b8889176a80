#include "common/owned_text.h"

#include "common/alloc.h"
#include "common/text.h"

namespace crv {

char16_t* DuplicateText(const char16_t* text) {
  return DuplicateTextBounded(text, TextLength(text));
}

char16_t* DuplicateTextBounded(const char16_t* text, size_t maxChars) {
  size_t length = TextLengthBounded(text, maxChars);
  auto* copy = static_cast<char16_t*>(AllocateZeroed((length + 1) * sizeof(char16_t)));
  if (copy == nullptr) return nullptr;
  for (size_t i = 0; i < length; ++i) copy[i] = text[i];
  copy[length] = 0;
  return copy;
}

}  // namespace crv

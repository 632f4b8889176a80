#include "common/ansi_text.h"

#include "common/text.h"
#include "platform/platform.h"

namespace crv {

void ToAnsiField(const char16_t* text, char* field, size_t fieldBytes) {
  if (field == nullptr || fieldBytes == 0) return;
  field[0] = 0;
  size_t length = TextLengthBounded(text, fieldBytes - 1);
  if (length == 0) return;
  int32_t written = platform::Os().codePage->WideCharToMultiByte(
      platform::kCpAcp, 0, text, static_cast<int32_t>(length), field,
      static_cast<int32_t>(fieldBytes - 1));
  field[written > 0 ? written : 0] = 0;
}

void FromAnsiField(const char* bytes, size_t maxBytes, char16_t* text, size_t textChars) {
  if (text == nullptr || textChars == 0) return;
  text[0] = 0;
  size_t length = 0;
  while (length < maxBytes && length + 1 < textChars && bytes[length] != 0) ++length;
  if (length == 0) return;
  int32_t written = platform::Os().codePage->MultiByteToWideChar(
      platform::kCpAcp, platform::kMbPrecomposed, bytes, static_cast<int32_t>(length), text,
      static_cast<int32_t>(textChars - 1));
  text[written > 0 ? written : 0] = 0;
}

}  // namespace crv

// libFuzzer entry for ParseFirstNumber, stepped through a UTF-16LE text number by number the
// way the location readers advance their text pointer. Besides memory errors it checks what
// callers rely on: the stored index lies inside the text right after a digit, the value is
// never negative, and a text without a digit leaves the index alone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "common/parse_first_number.h"
#include "fuzz_machine.h"

namespace {
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text = crvfuzz::WideText(data, size);
  // An exact-size copy, so that a read past the terminator is caught.
  auto exact = std::make_unique<char16_t[]>(text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) exact[i] = text[i];
  exact[text.size()] = 0;

  const char16_t* at = exact.get();
  const char16_t* end = exact.get() + text.size();
  for (;;) {
    constexpr uint32_t kUntouched = 0xA5A5A5A5u;
    uint32_t next = kUntouched;
    uint32_t value = crv::ParseFirstNumber(at, next);
    if (value == crv::kNoNumber) {
      if (next != kUntouched) std::abort();
      break;
    }
    if (value > 0x7FFFFFFFu || next == 0 || at + next > end || !IsDigit(at[next - 1])) {
      std::abort();
    }
    at += next;
  }
  return 0;
}

#include "metrics/windows_1252.h"

#include <cstdint>

namespace crv {
namespace {

// Windows-1252's bytes 0x80-0x9F; U+FFFD for the five it leaves undefined.
constexpr char16_t kHigh[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

}  // namespace

void Windows1252ToUtf8(const char* field, size_t width, char* out, size_t outSize) {
  if (outSize == 0) return;
  size_t used = 0;
  for (size_t i = 0; i < width && field[i] != 0; ++i) {
    uint8_t b = static_cast<uint8_t>(field[i]);
    char16_t c = b >= 0x80 && b <= 0x9F ? kHigh[b - 0x80] : b < 0x20 || b == 0x7F ? u'?' : b;
    char bytes[3];
    size_t n = 0;
    if (c < 0x80) {
      bytes[n++] = static_cast<char>(c);
    } else if (c < 0x800) {
      bytes[n++] = static_cast<char>(0xC0 | (c >> 6));
      bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      bytes[n++] = static_cast<char>(0xE0 | (c >> 12));
      bytes[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
    }
    if (used + n + 1 > outSize) break;
    for (size_t k = 0; k < n; ++k) out[used++] = bytes[k];
  }
  out[used] = 0;
}

}  // namespace crv

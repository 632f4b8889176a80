#include "service/console_line.h"

#include <cstddef>

#include "platform/platform.h"

namespace crv {
namespace {
constexpr size_t kLineBytes = 512;

class LineBuilder {
 public:
  void Append(char c) {
    if (length_ < kLineBytes) line_[length_++] = c;
  }
  void Append(const char* text) {
    for (; text != nullptr && *text != 0; ++text) Append(*text);
  }
  // The service name is a static ASCII text; anything else would not survive the 8-bit
  // stream anyway.
  void Append(const char16_t* text) {
    for (; text != nullptr && *text != 0; ++text)
      Append(*text < 0x80 ? static_cast<char>(*text) : '?');
  }
  void AppendDecimal(uint32_t number) {
    char digits[10];
    size_t n = 0;
    do {
      digits[n++] = static_cast<char>('0' + number % 10);
      number /= 10;
    } while (number != 0);
    while (n > 0) Append(digits[--n]);
  }
  void Print() {
    line_[length_++] = '\n';  // room for it is kept past kLineBytes
    platform::Console& console = *platform::Os().console;
    console.Write(line_, length_);
    console.Flush();
  }

 private:
  char line_[kLineBytes + 1];
  size_t length_ = 0;
};
}  // namespace

void PrintServiceLine(const char16_t* serviceName, const char* text) {
  LineBuilder line;
  line.Append(serviceName);
  line.Append(text);
  line.Print();
}

void PrintServiceLine(const char16_t* serviceName, const char* text, uint32_t number) {
  LineBuilder line;
  line.Append(serviceName);
  line.Append(text);
  line.AppendDecimal(number);
  line.Print();
}

}  // namespace crv

// Reports as lines on the debugger output (the format is described in win32_platform.h).
#include "platform/win32/backends.h"
#include "platform/win32/handles.h"
#include "platform/win32/win32_platform.h"

namespace platform::win32 {
namespace {

// Appends to a fixed buffer, always leaving room for the terminator.
class LineWriter {
 public:
  LineWriter(char16_t* line, size_t capacity) : line_(line), end_(line + capacity - 1) {}

  // Appends text, keeping `reserve` characters free for what must follow it.
  void Text(const char16_t* text, size_t reserve = 0) {
    while (*text != u'\0' && Left() > reserve) *next_++ = *text++;
  }
  void Ascii(const char* text) {
    while (*text != '\0' && Left() > 0) *next_++ = static_cast<char16_t>(*text++);
  }
  void Hex8(uint32_t number) {
    for (int shift = 28; shift >= 0 && Left() > 0; shift -= 4) {
      *next_++ = static_cast<char16_t>("0123456789ABCDEF"[(number >> shift) & 0xF]);
    }
  }
  void Decimal(uint32_t number) {
    char digits[10];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + number % 10);
      number /= 10;
    } while (number != 0);
    while (count > 0 && Left() > 0) *next_++ = static_cast<char16_t>(digits[--count]);
  }
  size_t Finish() {
    *next_ = u'\0';
    return static_cast<size_t>(next_ - line_);
  }

 private:
  size_t Left() const { return static_cast<size_t>(end_ - next_); }

  char16_t* line_;
  char16_t* end_;
  char16_t* next_ = line_;
};

class Win32Diagnostics final : public Diagnostics {
 public:
  void Report(uint32_t code, const char16_t* message, uint32_t value) override {
    // The debugger output may change the thread's last error (it looks for a debug
    // monitor's buffer); callers report a failure and then read its error, so it is kept.
    const DWORD callersLastError = GetLastError();
    char16_t line[kReportLineCapacity];
    FormatReportLine(code, message, value, line, kReportLineCapacity);
    OutputDebugStringW(Wide(line));
    SetLastError(callersLastError);
  }
};

}  // namespace

size_t FormatReportLine(uint32_t code, const char16_t* message, uint32_t value, char16_t* line,
                        size_t capacity) {
  LineWriter writer(line, capacity);
  writer.Ascii("CRVNicMgmt report 0x");
  writer.Hex8(code);
  writer.Ascii(" value ");
  writer.Decimal(value);
  if (message != nullptr) {
    writer.Ascii(": ");
    writer.Text(message, 1);  // a long text is cut, the newline stays
  }
  writer.Ascii("\n");
  return writer.Finish();
}

Diagnostics& DiagnosticsBackend() {
  static Win32Diagnostics diagnostics;
  return diagnostics;
}

}  // namespace platform::win32

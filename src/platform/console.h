// The process's standard streams as the installation words and RunAsExe use them.
#pragma once

#include <cstddef>

namespace platform {

class Console {
 public:
  virtual ~Console() = default;

  // Writes bytes to standard output (8-bit stream, text mode).
  virtual void Write(const char* text, size_t length) = 0;
  virtual void Flush() = 0;
  // getchar: the next byte of standard input, or -1 (EOF) at once when there is none.
  virtual int GetChar() = 0;
};

}  // namespace platform

// The C runtime's standard streams and heap.
#include <cstdio>
#include <cstdlib>

#include "platform/win32/backends.h"
#include "platform/win32/handles.h"

namespace platform::win32 {
namespace {

class Win32Console final : public Console {
 public:
  void Write(const char* text, size_t length) override { fwrite(text, 1, length, stdout); }
  void Flush() override { fflush(stdout); }
  int GetChar() override { return getchar(); }
};

class Win32Memory final : public Memory {
 public:
  void* Allocate(size_t size) override {
    void* block = malloc(size);
    if (block == nullptr) ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return block;
  }
  void Free(void* block) override { free(block); }
};

}  // namespace

Console& ConsoleBackend() {
  static Win32Console console;
  return console;
}

Memory& MemoryBackend() {
  static Win32Memory memory;
  return memory;
}

}  // namespace platform::win32

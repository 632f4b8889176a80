// kernel32 code page conversion.
#include "platform/win32/backends.h"
#include "platform/win32/handles.h"

namespace platform::win32 {
namespace {

class Win32CodePage final : public CodePage {
 public:
  int32_t MultiByteToWideChar(uint32_t codePage, uint32_t flags, const char* source,
                              int32_t sourceLength, char16_t* destination,
                              int32_t destinationLength) override {
    return ::MultiByteToWideChar(codePage, flags, source, sourceLength, Wide(destination),
                                 destinationLength);
  }

  int32_t WideCharToMultiByte(uint32_t codePage, uint32_t flags, const char16_t* source,
                              int32_t sourceLength, char* destination,
                              int32_t destinationLength) override {
    return ::WideCharToMultiByte(codePage, flags, Wide(source), sourceLength, destination,
                                 destinationLength, nullptr, nullptr);
  }
};

}  // namespace

CodePage& CodePageBackend() {
  static Win32CodePage codePage;
  return codePage;
}

}  // namespace platform::win32

// Conversions between the system's ANSI code page and UTF-16 (kernel32).
#pragma once

#include <cstdint>

namespace platform {

constexpr uint32_t kCpAcp = 0;
constexpr uint32_t kMbPrecomposed = 0x1;

class CodePage {
 public:
  virtual ~CodePage() = default;

  // MultiByteToWideChar: sourceLength -1 means up to and including the terminator; with
  // destinationLength 0 the characters needed are returned. 0 on failure (last error set,
  // kErrorInsufficientBuffer when the destination is too small).
  virtual int32_t MultiByteToWideChar(uint32_t codePage, uint32_t flags, const char* source,
                                      int32_t sourceLength, char16_t* destination,
                                      int32_t destinationLength) = 0;
  // WideCharToMultiByte without default character arguments; same conventions.
  virtual int32_t WideCharToMultiByte(uint32_t codePage, uint32_t flags, const char16_t* source,
                                      int32_t sourceLength, char* destination,
                                      int32_t destinationLength) = 0;
};

}  // namespace platform

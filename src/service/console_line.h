// The installation words' console lines: the service's name, a text and, for failures, a
// Win32 error number in decimal; one line each, flushed at once.
#pragma once

#include <cstdint>

namespace crv {

void PrintServiceLine(const char16_t* serviceName, const char* text);
void PrintServiceLine(const char16_t* serviceName, const char* text, uint32_t number);

}  // namespace crv

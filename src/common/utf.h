// Conversions between UTF-8 and UTF-16 for the tools, the simulated server and tests (they
// allocate, so agent code does not use them).
#pragma once

#include <string>
#include <string_view>

namespace crv {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace crv

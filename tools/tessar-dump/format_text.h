// printf-style formatting into a std::string, the text whole whatever its length.
#pragma once

#include <cstdio>
#include <string>

namespace tessar {

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char buffer[256];
  int length = std::snprintf(buffer, sizeof buffer, format, args...);
  if (length < 0) return std::string();
  if (static_cast<size_t>(length) < sizeof buffer) return std::string(buffer, length);
  std::string text(static_cast<size_t>(length), '\0');
  std::snprintf(text.data(), text.size() + 1, format, args...);
  return text;
}

}  // namespace tessar

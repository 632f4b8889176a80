// Case-blind comparisons of the simulated machine's names (GUIDs, instance IDs, device and
// library names), which Windows matches without regard to case.
#pragma once

#include <string_view>

#include "common/text.h"

namespace sim {

inline bool SameNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (crv::UpperCase(a[i]) != crv::UpperCase(b[i])) return false;
  }
  return true;
}

inline bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && SameNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace sim

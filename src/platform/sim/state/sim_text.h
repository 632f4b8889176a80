// The simulated machine's one case-blind comparison, for the names Windows matches without
// regard to case: registry keys and values, services, GUIDs, instance IDs, device, library,
// WMI class and property names, WQL's words. Letters fold as crv::FoldCase folds them.
#pragma once

#include <string_view>

#include "common/text.h"

namespace sim {

// Negative, zero or positive as a sorts before, with or after b.
inline int CompareNoCase(std::u16string_view a, std::u16string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const char16_t ca = crv::FoldCase(a[i]);
    const char16_t cb = crv::FoldCase(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

inline bool SameNoCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

inline bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && SameNoCase(text.substr(0, prefix.size()), prefix);
}

// Orders names as the registry compares them: ignoring case.
struct NoCaseLess {
  bool operator()(std::u16string_view a, std::u16string_view b) const {
    return CompareNoCase(a, b) < 0;
  }
};

}  // namespace sim

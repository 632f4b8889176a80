// The simulated machine's dynamically loadable libraries (the vendors' management libraries),
// found by LoadLibraryW by file name or full path.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace sim {

class SimLibraries {
 public:
  // Number of loads not yet given back with FreeLibrary, over every library.
  int64_t LoadedReferences() const { return loadedReferences_; }
  int64_t& loadedReferences() { return loadedReferences_; }

 private:
  int64_t loadedReferences_ = 0;
};

}  // namespace sim

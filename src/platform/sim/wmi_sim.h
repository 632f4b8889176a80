// The simulated machine's COM runtime and WMI service: namespaces, their objects by class,
// and the typed properties the agent reads.
#pragma once

#include <cstdint>

namespace sim {

class SimWmi {
 public:
  // False: the WMI locator class is not registered (CoCreateInstance answers
  // REGDB_E_CLASSNOTREG), as on a machine whose WMI service is missing.
  bool available() const { return available_; }
  void SetAvailable(bool available) { available_ = available; }

 private:
  bool available_ = false;
};

}  // namespace sim

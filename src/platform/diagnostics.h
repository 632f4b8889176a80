// Where the report sink sends each report: the debugger output on Windows, a recorder with
// the virtual time in the simulated server.
#pragma once

#include <cstdint>

namespace platform {

class Diagnostics {
 public:
  virtual ~Diagnostics() = default;

  // Leaves the thread's last error as it found it.
  virtual void Report(uint32_t code, const char16_t* message, uint32_t value) = 0;
};

}  // namespace platform

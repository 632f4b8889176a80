// Heap for every allocation of the agent, so that a test can fail the n-th one.
#pragma once

#include <cstddef>

namespace platform {

class Memory {
 public:
  virtual ~Memory() = default;

  // Null on failure, with kErrorNotEnoughMemory as the thread's last error.
  virtual void* Allocate(size_t size) = 0;
  virtual void Free(void* block) = 0;
};

}  // namespace platform

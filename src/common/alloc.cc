#include "common/alloc.h"

#include <cstring>

#include "platform/platform.h"

namespace crv {

void* AllocateZeroed(size_t size) {
  void* block = platform::Os().memory->Allocate(size == 0 ? 1 : size);
  if (block != nullptr) std::memset(block, 0, size);
  return block;
}

void FreeBlock(void* block) {
  if (block != nullptr) platform::Os().memory->Free(block);
}

}  // namespace crv

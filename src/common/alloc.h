// The one allocation path of the agent: zero-filled storage from the platform heap, so that
// objects start from zero as the agent expects and a test can fail the n-th allocation.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

namespace crv {

// Zero-filled block, or null (the thread's last error then says why).
void* AllocateZeroed(size_t size);
void FreeBlock(void* block);

// Constructs a T in zero-filled storage; null when the storage cannot be had.
template <class T, class... Args>
T* NewObject(Args&&... args) {
  void* storage = AllocateZeroed(sizeof(T));
  if (storage == nullptr) return nullptr;
  return new (storage) T(std::forward<Args>(args)...);
}

// Destroys an object made by NewObject (through its virtual destructor when it has one).
template <class T>
void DeleteObject(T* object) {
  if (object == nullptr) return;
  object->~T();
  FreeBlock(object);
}

}  // namespace crv

#include "metrics/metrics_text.h"

#include <cstring>

#include "common/alloc.h"

namespace crv {

const MetricsHeap& AgentHeap() {
  static const MetricsHeap heap{&AllocateZeroed, &FreeBlock};
  return heap;
}

MetricsText::~MetricsText() { heap_.free(data_); }

void MetricsText::Append(const char* text, size_t size) {
  if (failed_ || size == 0) return;
  if (size_ + size > capacity_) {
    size_t capacity = capacity_ == 0 ? 4096 : capacity_;
    while (capacity < size_ + size) capacity *= 2;
    char* grown = static_cast<char*>(heap_.allocate(capacity));
    if (grown == nullptr) {
      failed_ = true;
      return;
    }
    if (size_ > 0) std::memcpy(grown, data_, size_);
    heap_.free(data_);
    data_ = grown;
    capacity_ = capacity;
  }
  std::memcpy(data_ + size_, text, size);
  size_ += size;
}

void MetricsText::Append(const char* text) { Append(text, std::strlen(text)); }

void MetricsText::AppendNumber(uint64_t value) {
  char digits[24];
  size_t at = sizeof digits;
  do {
    digits[--at] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  Append(digits + at, sizeof digits - at);
}

void MetricsText::Clear() {
  size_ = 0;
  failed_ = false;
}

}  // namespace crv

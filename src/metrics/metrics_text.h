// A text that grows on the agent's heap, for the metrics file: appends never fail loudly, a
// block that cannot be had marks the text failed and later appends are dropped.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crv {

// Where a text's blocks come from: the agent's heap by default; a tool without an installed
// platform gives its own.
struct MetricsHeap {
  void* (*allocate)(size_t size);  // null when none can be had
  void (*free)(void* block);
};
const MetricsHeap& AgentHeap();

class MetricsText {
 public:
  explicit MetricsText(const MetricsHeap& heap = AgentHeap()) : heap_(heap) {}
  MetricsText(const MetricsText&) = delete;
  MetricsText& operator=(const MetricsText&) = delete;
  ~MetricsText();

  void Append(const char* text, size_t size);
  void Append(const char* text);
  void Append(char c) { Append(&c, 1); }
  void AppendNumber(uint64_t value);
  // Empties the text, keeping its block.
  void Clear();

  bool Failed() const { return failed_; }
  const char* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  const MetricsHeap& heap_;
  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  bool failed_ = false;
};

}  // namespace crv

// Execution contexts for simulated threads: each simulated thread runs on its own stack and
// gives control back to the scheduler whenever it waits, so that every thread of a simulated
// process runs on one real thread in a deterministic order.
#pragma once

#include <cstddef>
#include <memory>

namespace sim {

class FiberContext {
 public:
  virtual ~FiberContext() = default;
};

// The context of the calling real thread, to switch back to.
std::unique_ptr<FiberContext> ThreadFiberContext();
// A new context that runs entry(argument) on a stack of its own when first switched to.
// entry must never return: it switches away for the last time instead.
std::unique_ptr<FiberContext> NewFiberContext(void (*entry)(void*), void* argument,
                                              size_t stackSize);
// Saves the current context into from and continues in to.
void SwitchFiber(FiberContext& from, FiberContext& to);

}  // namespace sim

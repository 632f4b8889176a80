// Win32 fibers for the simulated server when it is built for Windows (the unit suite under
// Wine). Not part of the agent's Windows backend.
#include <windows.h>

#include <cstdlib>

#include "platform/sim/scheduler/fiber.h"

namespace sim {
namespace {

class Win32Fiber : public FiberContext {
 public:
  ~Win32Fiber() override {
    if (owned && fiber != nullptr) DeleteFiber(fiber);
    if (convertedThread) ConvertFiberToThread();
  }
  void* fiber = nullptr;
  bool owned = false;
  bool convertedThread = false;
  void (*entry)(void*) = nullptr;
  void* argument = nullptr;
};

void WINAPI FiberStart(void* parameter) {
  auto* self = static_cast<Win32Fiber*>(parameter);
  self->entry(self->argument);
  std::abort();  // a fiber entry never returns
}

}  // namespace

std::unique_ptr<FiberContext> ThreadFiberContext() {
  auto context = std::make_unique<Win32Fiber>();
  if (IsThreadAFiber()) {
    // mingw's inline GetCurrentFiber reads the TEB in a way GCC 12 takes for out of bounds.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
    context->fiber = GetCurrentFiber();
#pragma GCC diagnostic pop
  } else {
    context->fiber = ConvertThreadToFiber(nullptr);
    context->convertedThread = true;
  }
  if (context->fiber == nullptr) std::abort();
  return context;
}

std::unique_ptr<FiberContext> NewFiberContext(void (*entry)(void*), void* argument,
                                              size_t stackSize) {
  auto context = std::make_unique<Win32Fiber>();
  context->entry = entry;
  context->argument = argument;
  context->fiber = CreateFiber(stackSize, FiberStart, context.get());
  context->owned = true;
  if (context->fiber == nullptr) std::abort();
  return context;
}

void SwitchFiber(FiberContext&, FiberContext& to) {
  SwitchToFiber(static_cast<Win32Fiber&>(to).fiber);
}

}  // namespace sim

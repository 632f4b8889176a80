#include <ucontext.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/sim/scheduler/fiber.h"

namespace sim {
namespace {

class UContextFiber : public FiberContext {
 public:
  ucontext_t context{};
  std::vector<char> stack;
  void (*entry)(void*) = nullptr;
  void* argument = nullptr;
};

// makecontext passes int arguments only, so the fiber's address travels in two halves.
void Trampoline(unsigned int high, unsigned int low) {
  auto address = (static_cast<uintptr_t>(high) << 32) | static_cast<uintptr_t>(low);
  auto* fiber = reinterpret_cast<UContextFiber*>(address);
  fiber->entry(fiber->argument);
  std::abort();  // a fiber entry never returns
}

}  // namespace

std::unique_ptr<FiberContext> ThreadFiberContext() { return std::make_unique<UContextFiber>(); }

std::unique_ptr<FiberContext> NewFiberContext(void (*entry)(void*), void* argument,
                                              size_t stackSize) {
  auto fiber = std::make_unique<UContextFiber>();
  fiber->entry = entry;
  fiber->argument = argument;
  fiber->stack.resize(stackSize);
  if (getcontext(&fiber->context) != 0) std::abort();
  fiber->context.uc_stack.ss_sp = fiber->stack.data();
  fiber->context.uc_stack.ss_size = fiber->stack.size();
  fiber->context.uc_link = nullptr;
  auto address = reinterpret_cast<uintptr_t>(fiber.get());
  makecontext(&fiber->context, reinterpret_cast<void (*)()>(Trampoline), 2,
              static_cast<unsigned int>(address >> 32), static_cast<unsigned int>(address));
  return fiber;
}

void SwitchFiber(FiberContext& from, FiberContext& to) {
  swapcontext(&static_cast<UContextFiber&>(from).context, &static_cast<UContextFiber&>(to).context);
}

}  // namespace sim

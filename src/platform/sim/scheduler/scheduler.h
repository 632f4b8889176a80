// Threads of a simulated process, run one at a time as fibers on the virtual clock. A thread
// runs until it waits; the scheduler then runs the next ready thread or, when none is
// ready, moves the clock to the next timeline action or time-out.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "platform/sim/scheduler/fiber.h"

namespace sim {

class Machine;
enum class RunEnd;

struct EventObject {
  std::u16string name;
  bool manualReset = false;
  bool signaled = false;
};

class Scheduler;

struct SimThread {
  enum class State { kReady, kWaiting, kEnded };
  Scheduler* scheduler = nullptr;
  uint32_t id = 0;
  std::unique_ptr<FiberContext> context;
  platform::ThreadEntry entry = nullptr;
  void* argument = nullptr;
  State state = State::kReady;
  uint64_t wakeAt = 0;  // UINT64_MAX: no time-out
  std::vector<std::shared_ptr<EventObject>> waitingOn;
  uint32_t waitResult = 0;
  uint32_t lastError = 0;
  bool blockedInCall = false;  // held by a blocked call (Scheduler::Block)
};

class Scheduler {
 public:
  static constexpr uint64_t kNever = UINT64_MAX;
  static constexpr size_t kStackSize = 1 << 20;

  explicit Scheduler(Machine& machine);
  ~Scheduler();

  RunEnd Run(std::function<void()> main, uint64_t durationMs);
  bool InRun() const { return inRun_; }
  // The threads of the last process that it left inside a blocked call.
  const std::vector<uint32_t>& AbandonedInCall() const { return abandonedInCall_; }

  // A new ready thread; it first runs when the current one waits.
  uint32_t Spawn(platform::ThreadEntry entry, void* argument);
  // The running simulated thread, or null for code running outside a process (tests).
  SimThread* Current() { return current_; }

  // Blocks the current thread until one of the events is signalled (kWaitObject0 + i) or
  // the time-out passes (kWaitTimeout). Outside a process the clock is moved instead. The
  // events are kept by the thread, not on its stack, so a process that ends while the thread
  // waits leaves nothing behind on the abandoned stack.
  uint32_t Wait(std::vector<std::shared_ptr<EventObject>> events, uint32_t timeoutMs);
  // Keeps the current thread from running for blockMs of virtual time, or for good with
  // kNever (a call that never comes back). Outside a process the clock is moved instead.
  void Block(uint64_t blockMs);
  [[noreturn]] void EndCurrentThread();
  void Signal(const std::shared_ptr<EventObject>& event);

  // Whether some thread is blocked in a wait on exactly these named events, in this order,
  // with a time-out. A sleep waits on no event, so a thread sleeping never counts.
  bool InTimedWaitOn(const std::vector<std::u16string>& eventNames) const;

 private:
  static void ThreadStart(void* self);
  void SwitchToScheduler();
  bool TryTake(const std::vector<std::shared_ptr<EventObject>>& events, uint32_t* result);
  void WakeTimedOut();
  uint64_t EarliestWake() const;
  uint32_t WaitOutsideProcess(const std::vector<std::shared_ptr<EventObject>>& events,
                              uint32_t timeoutMs);

  Machine& machine_;
  std::unique_ptr<FiberContext> schedulerContext_;
  std::vector<std::unique_ptr<SimThread>> threads_;
  std::deque<SimThread*> ready_;
  SimThread* current_ = nullptr;
  SimThread* mainThread_ = nullptr;
  std::function<void()> main_;
  bool mainReturned_ = false;
  bool inRun_ = false;
  uint32_t nextThreadId_ = 0x104;
  std::vector<uint32_t> abandonedInCall_;
};

}  // namespace sim

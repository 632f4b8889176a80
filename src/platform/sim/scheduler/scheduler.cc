#include "platform/sim/scheduler/scheduler.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

#include "platform/sim/machine.h"

namespace sim {
namespace {
[[noreturn]] void Fatal(const char* what) {
  std::fprintf(stderr, "simulated server: %s\n", what);
  std::abort();
}
}  // namespace

Scheduler::Scheduler(Machine& machine) : machine_(machine) {}
Scheduler::~Scheduler() = default;

uint32_t Scheduler::Spawn(platform::ThreadEntry entry, void* argument) {
  auto thread = std::make_unique<SimThread>();
  thread->scheduler = this;
  thread->id = nextThreadId_;
  nextThreadId_ += 4;
  thread->entry = entry;
  thread->argument = argument;
  thread->context = NewFiberContext(&Scheduler::ThreadStart, thread.get(), kStackSize);
  ready_.push_back(thread.get());
  threads_.push_back(std::move(thread));
  return threads_.back()->id;
}

void Scheduler::ThreadStart(void* self) {
  auto* thread = static_cast<SimThread*>(self);
  thread->entry(thread->argument);
  // Returning from the entry ends the thread, as the C runtime's thread wrapper does.
  thread->scheduler->EndCurrentThread();
}

RunEnd Scheduler::Run(std::function<void()> main, uint64_t durationMs) {
  if (inRun_) Fatal("a simulated process is already running");
  inRun_ = true;
  mainReturned_ = false;
  main_ = std::move(main);
  const uint64_t deadline = machine_.NowMs() + durationMs;
  schedulerContext_ = ThreadFiberContext();
  // The main thread runs main_ and then ends the process.
  Spawn(
      [](void* scheduler) {
        auto* self = static_cast<Scheduler*>(scheduler);
        self->main_();
        self->mainReturned_ = true;
        self->EndCurrentThread();
      },
      this);
  mainThread_ = threads_.back().get();

  RunEnd end;
  for (;;) {
    if (mainReturned_) {
      end = RunEnd::kReturned;
      break;
    }
    if (!ready_.empty()) {
      current_ = ready_.front();
      ready_.pop_front();
      SwitchFiber(*schedulerContext_, *current_->context);
      current_ = nullptr;
      continue;
    }
    uint64_t wake = EarliestWake();
    std::optional<uint64_t> action = machine_.NextActionTime();
    uint64_t next = std::min(wake, action.value_or(kNever));
    if (next == kNever) {
      end = RunEnd::kIdle;
      break;
    }
    if (next > deadline) {
      machine_.AdvanceTo(deadline);
      end = RunEnd::kDurationOver;
      break;
    }
    if (action && *action <= wake) {
      machine_.AdvanceTo(*action);  // runs the actions due; they may signal events
    } else {
      machine_.AdvanceTo(next);
      WakeTimedOut();
    }
  }
  // The process ends: its threads are abandoned where they stand, as on Windows.
  abandonedInCall_.clear();
  for (const auto& thread : threads_) {
    if (thread->blockedInCall) abandonedInCall_.push_back(thread->id);
  }
  ready_.clear();
  threads_.clear();
  mainThread_ = nullptr;
  schedulerContext_.reset();
  main_ = nullptr;
  inRun_ = false;
  return end;
}

void Scheduler::SwitchToScheduler() {
  SimThread* self = current_;
  SwitchFiber(*self->context, *schedulerContext_);
}

bool Scheduler::TryTake(const std::vector<std::shared_ptr<EventObject>>& events, uint32_t* result) {
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i]->signaled) {
      if (!events[i]->manualReset) events[i]->signaled = false;
      *result = platform::kWaitObject0 + static_cast<uint32_t>(i);
      return true;
    }
  }
  return false;
}

uint32_t Scheduler::Wait(std::vector<std::shared_ptr<EventObject>> events, uint32_t timeoutMs) {
  uint32_t result = 0;
  if (TryTake(events, &result)) return result;
  if (timeoutMs == 0) return platform::kWaitTimeout;
  if (current_ == nullptr) return WaitOutsideProcess(events, timeoutMs);
  current_->state = SimThread::State::kWaiting;
  current_->waitingOn = std::move(events);
  current_->wakeAt = timeoutMs == platform::kInfinite ? kNever : machine_.NowMs() + timeoutMs;
  SwitchToScheduler();
  return current_->waitResult;
}

uint32_t Scheduler::WaitOutsideProcess(const std::vector<std::shared_ptr<EventObject>>& events,
                                       uint32_t timeoutMs) {
  if (timeoutMs == platform::kInfinite) Fatal("infinite wait outside a simulated process");
  const uint64_t deadline = machine_.NowMs() + timeoutMs;
  for (;;) {
    std::optional<uint64_t> action = machine_.NextActionTime();
    if (!action || *action > deadline) break;
    machine_.AdvanceTo(*action);
    uint32_t result = 0;
    if (TryTake(events, &result)) return result;
  }
  machine_.AdvanceTo(deadline);
  return platform::kWaitTimeout;
}

void Scheduler::Block(uint64_t blockMs) {
  const uint64_t now = machine_.NowMs();
  const uint64_t until = blockMs >= kNever - now ? kNever : now + blockMs;
  if (current_ == nullptr) {
    if (until == kNever) Fatal("a call blocked for good outside a simulated process");
    machine_.AdvanceTo(until);
    return;
  }
  current_->state = SimThread::State::kWaiting;
  current_->waitingOn.clear();
  current_->wakeAt = until;
  current_->blockedInCall = true;
  SwitchToScheduler();
  current_->blockedInCall = false;
}

void Scheduler::EndCurrentThread() {
  if (current_ == nullptr) Fatal("_endthread outside a simulated thread");
  current_->state = SimThread::State::kEnded;
  SwitchToScheduler();
  Fatal("an ended thread was resumed");
}

void Scheduler::Signal(const std::shared_ptr<EventObject>& event) {
  event->signaled = true;
  for (auto& thread : threads_) {
    if (!event->signaled) break;
    if (thread->state != SimThread::State::kWaiting) continue;
    uint32_t result = 0;
    if (TryTake(thread->waitingOn, &result)) {
      thread->state = SimThread::State::kReady;
      thread->waitResult = result;
      thread->waitingOn.clear();
      ready_.push_back(thread.get());
    }
  }
}

void Scheduler::WakeTimedOut() {
  for (auto& thread : threads_) {
    if (thread->state == SimThread::State::kWaiting && thread->wakeAt <= machine_.NowMs()) {
      thread->state = SimThread::State::kReady;
      thread->waitResult = platform::kWaitTimeout;
      thread->waitingOn.clear();
      ready_.push_back(thread.get());
    }
  }
}

bool Scheduler::InTimedWaitOn(const std::vector<std::u16string>& eventNames) const {
  for (const auto& thread : threads_) {
    if (thread->state != SimThread::State::kWaiting || thread->wakeAt == kNever) continue;
    if (thread->waitingOn.size() != eventNames.size()) continue;
    bool same = true;
    for (size_t i = 0; i < eventNames.size(); ++i) {
      same = same && thread->waitingOn[i]->name == eventNames[i];
    }
    if (same) return true;
  }
  return false;
}

uint64_t Scheduler::EarliestWake() const {
  uint64_t earliest = kNever;
  for (const auto& thread : threads_) {
    if (thread->state == SimThread::State::kWaiting) earliest = std::min(earliest, thread->wakeAt);
  }
  return earliest;
}

}  // namespace sim

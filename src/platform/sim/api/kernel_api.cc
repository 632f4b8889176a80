// Events, waits, threads, time, last error and environment strings of the simulated machine.
#include <algorithm>
#include <map>
#include <utility>

#include "platform/sim/api/apis.h"
#include "platform/sim/api/machine_internals.h"
#include "platform/sim/machine.h"
#include "platform/sim/scheduler/scheduler.h"
#include "platform/sim/state/file_time.h"

namespace sim {
namespace {

using platform::Handle;

class KernelApi : public platform::Kernel {
 public:
  explicit KernelApi(Machine& machine) : machine_(machine), internals_(machine) {}

  Handle CreateEvent(bool manualReset, bool initialState, const char16_t* name) override {
    if (auto fault = internals_.CheckFault(FaultCall::kCreateEventW)) return FailHandle(*fault);
    std::shared_ptr<EventObject> event;
    uint32_t error = 0;
    if (name != nullptr && *name != 0) {
      event = internals_.kernelObjects().FindNamed(name);
    }
    if (event) {
      error = platform::kErrorAlreadyExists;
    } else {
      event = std::make_shared<EventObject>();
      event->name = name ? name : u"";
      event->manualReset = manualReset;
      event->signaled = initialState;
      internals_.kernelObjects().Name(event);
    }
    internals_.SetLastError(error);
    return internals_.kernelObjects().Add(event, internals_.scheduler().InRun());
  }

  bool SetEvent(Handle handle) override {
    if (auto fault = internals_.CheckFault(FaultCall::kSetEvent)) return FailBool(*fault);
    auto event = internals_.kernelObjects().Lookup(handle);
    if (!event) return FailBool(platform::kErrorInvalidHandle);
    internals_.scheduler().Signal(event);
    return true;
  }

  bool CloseHandle(Handle handle) override {
    if (auto fault = internals_.CheckFault(FaultCall::kCloseHandle)) return FailBool(*fault);
    if (!internals_.kernelObjects().Close(handle)) return FailBool(platform::kErrorInvalidHandle);
    return true;
  }

  uint32_t WaitForMultipleObjects(uint32_t count, const Handle* handles, bool waitAll,
                                  uint32_t milliseconds) override {
    if (auto fault = internals_.CheckFault(FaultCall::kWaitForMultipleObjects))
      return FailWait(*fault);
    if (count == 0 || count > platform::kMaximumWaitObjects || handles == nullptr || waitAll) {
      return FailWait(platform::kErrorInvalidParameter);
    }
    std::vector<std::shared_ptr<EventObject>> events;
    for (uint32_t i = 0; i < count; ++i) {
      auto event = internals_.kernelObjects().Lookup(handles[i]);
      if (!event) return FailWait(platform::kErrorInvalidHandle);
      events.push_back(std::move(event));
    }
    return internals_.scheduler().Wait(std::move(events), milliseconds);
  }

  uint32_t SleepEx(uint32_t milliseconds, bool) override {
    internals_.scheduler().Wait({}, milliseconds);
    return 0;
  }

  uint32_t GetCurrentThreadId() override {
    SimThread* thread = internals_.scheduler().Current();
    return thread ? thread->id : kOutsideThreadId;
  }

  void GetSystemTime(platform::SystemTime* time) override {
    *time = FileTimeToSystemTime(internals_.FileTimeNow());
  }

  bool SystemTimeToFileTime(const platform::SystemTime* systemTime,
                            platform::FileTime* fileTime) override {
    uint64_t value = 0;
    if (systemTime == nullptr || fileTime == nullptr ||
        !sim::SystemTimeToFileTime(*systemTime, &value)) {
      return FailBool(platform::kErrorInvalidParameter);
    }
    fileTime->low = static_cast<uint32_t>(value);
    fileTime->high = static_cast<uint32_t>(value >> 32);
    return true;
  }

  void GetSystemTimeAsFileTime(platform::FileTime* fileTime) override {
    uint64_t now = internals_.FileTimeNow();
    fileTime->low = static_cast<uint32_t>(now);
    fileTime->high = static_cast<uint32_t>(now >> 32);
  }

  // The machine starts with its clock.
  uint64_t GetTickCount64() override { return internals_.NowMs(); }

  uintptr_t BeginThread(platform::ThreadEntry entry, uint32_t, void* argument) override {
    if (auto fault = internals_.CheckFault(FaultCall::kBeginThread)) {
      internals_.SetLastError(*fault);
      return platform::kBeginThreadFailed;
    }
    return 0x7000 + internals_.scheduler().Spawn(entry, argument);
  }

  [[noreturn]] void EndThread() override { internals_.scheduler().EndCurrentThread(); }

  uint32_t GetLastError() override { return internals_.LastError(); }
  void SetLastError(uint32_t error) override { internals_.SetLastError(error); }

  // As Windows: the size with the terminator, the text written only when it fits; an
  // expansion beyond 32767 characters fails.
  uint32_t ExpandEnvironmentStrings(const char16_t* text, char16_t* buffer,
                                    uint32_t size) override {
    if (auto fault = internals_.CheckFault(FaultCall::kExpandEnvironmentStringsW)) {
      internals_.SetLastError(*fault);
      return 0;
    }
    if (text == nullptr) {
      internals_.SetLastError(platform::kErrorInvalidParameter);
      return 0;
    }
    std::u16string expanded = machine_.files().Expand(text);
    if (expanded.size() >= kMaxEnvironmentChars) {
      internals_.SetLastError(platform::kErrorInsufficientBuffer);
      return 0;
    }
    auto needed = static_cast<uint32_t>(expanded.size() + 1);
    if (buffer != nullptr && needed <= size) {
      std::copy(expanded.begin(), expanded.end(), buffer);
      buffer[expanded.size()] = 0;
    }
    return needed;
  }

 private:
  static constexpr size_t kMaxEnvironmentChars = 32767;
  static constexpr uint32_t kOutsideThreadId = 0x100;

  Handle FailHandle(uint32_t error) {
    internals_.SetLastError(error);
    return nullptr;
  }
  bool FailBool(uint32_t error) {
    internals_.SetLastError(error);
    return false;
  }
  uint32_t FailWait(uint32_t error) {
    internals_.SetLastError(error);
    return platform::kWaitFailed;
  }

  Machine& machine_;
  MachineInternals internals_;
};

}  // namespace

std::unique_ptr<platform::Kernel> NewKernelApi(Machine& machine) {
  return std::make_unique<KernelApi>(machine);
}

}  // namespace sim

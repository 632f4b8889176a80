#include "platform/sim/machine.h"

#include <cstdio>
#include <cstdlib>

#include "platform/sim/api/apis.h"
#include "platform/sim/api/event_log_sim.h"
#include "platform/sim/api/interface_notify_sim.h"
#include "platform/sim/state/file_time.h"

namespace sim {
namespace {

class ConsoleApi : public platform::Console {
 public:
  explicit ConsoleApi(Machine& machine) : machine_(machine) {}
  void Write(const char* text, size_t length) override { machine_.WriteConsole(text, length); }
  void Flush() override {}
  int GetChar() override { return machine_.ReadConsole(); }

 private:
  Machine& machine_;
};

class MemoryApi : public platform::Memory {
 public:
  explicit MemoryApi(Machine& machine) : machine_(machine) {}
  void* Allocate(size_t size) override { return machine_.Allocate(size); }
  void Free(void* block) override { machine_.Free(block); }

 private:
  Machine& machine_;
};

class DiagnosticsApi : public platform::Diagnostics {
 public:
  explicit DiagnosticsApi(Machine& machine) : machine_(machine) {}
  void Report(uint32_t code, const char16_t* message, uint32_t value) override {
    // The write changes the last error, as Windows' debugger output may.
    const uint32_t callersLastError = machine_.LastError();
    machine_.AddReport(code, message, value);
    machine_.SetLastError(callersLastError);
  }

 private:
  Machine& machine_;
};

Machine* g_installed = nullptr;

}  // namespace

Machine::Machine()
    : interfaceNotifier_(std::make_unique<SimInterfaceNotifier>(*this)),
      eventLog_(std::make_unique<SimEventLog>(*this)),
      scheduler_(std::make_unique<Scheduler>(*this)),
      moduleFileName_(u"C:\\Program Files\\Corvane\\crvnichost.exe") {
  platform::SystemTime start;
  start.year = 2026;
  start.month = 1;
  start.day = 5;
  start.hour = 8;
  SystemTimeToFileTime(start, &startFileTime_);
  registry_.set_clock(&registryClock_);
  registryApi_ = NewRegistryApi(*this);
  servicesApi_ = NewServiceManagerApi(*this);
  kernelApi_ = NewKernelApi(*this);
  consoleApi_ = std::make_unique<ConsoleApi>(*this);
  memoryApi_ = std::make_unique<MemoryApi>(*this);
  diagnosticsApi_ = std::make_unique<DiagnosticsApi>(*this);
  ipHelperApi_ = NewIpHelperApi(*this);
  codePageApi_ = NewCodePageApi(*this);
  deviceIoApi_ = NewDeviceIoApi(*this);
  configManagerApi_ = NewConfigManagerApi(*this);
  librariesApi_ = NewDynamicLibraryApi(*this);
  wmiApi_ = NewComWmiApi(*this);
  platform_.registry = registryApi_.get();
  platform_.services = servicesApi_.get();
  platform_.kernel = kernelApi_.get();
  platform_.console = consoleApi_.get();
  platform_.memory = memoryApi_.get();
  platform_.diagnostics = diagnosticsApi_.get();
  platform_.ipHelper = ipHelperApi_.get();
  platform_.codePage = codePageApi_.get();
  platform_.deviceIo = deviceIoApi_.get();
  platform_.configManager = configManagerApi_.get();
  platform_.libraries = librariesApi_.get();
  platform_.wmi = wmiApi_.get();
  platform_.eventLog = &eventLog_->Api();
  registryClock_ = FileTimeNow();
}

Machine::~Machine() {
  ReleaseAbandoned();
  if (g_installed == this) {
    platform::Install(platform::Platform{});
    g_installed = nullptr;
  }
}

void Machine::Install() {
  platform::Install(platform_);
  g_installed = this;
}

std::vector<std::u16string> Machine::InfoMessages() const {
  std::vector<std::u16string> messages;
  for (const auto& report : reports_) {
    if (report.code == 0x44350127) messages.push_back(report.message);
  }
  return messages;
}

void Machine::FailCall(std::string call, uint32_t occurrence, uint32_t status) {
  faults_.push_back(FaultRule{std::move(call), occurrence, status});
}

void Machine::FailAllocation(uint64_t n) { failAllocationAt_ = allocationCount_ + n; }

uint64_t Machine::CallCount(std::string_view call) const {
  auto it = callCounts_.find(call);
  return it == callCounts_.end() ? 0 : it->second;
}

uint64_t Machine::LiveAllocations() const { return liveBlocks_.size(); }

std::optional<uint32_t> Machine::CheckFault(std::string_view call) {
  auto it = callCounts_.find(call);
  if (it == callCounts_.end()) it = callCounts_.emplace(std::string(call), 0).first;
  uint64_t occurrence = ++it->second;
  for (auto rule = faults_.begin(); rule != faults_.end(); ++rule) {
    if (rule->call != call) continue;
    if (rule->occurrence == 0) return rule->status;
    if (rule->occurrence == occurrence) {
      // A rule for one occurrence cannot match again; dropping it keeps the check short on
      // long runs that keep adding faults.
      uint32_t status = rule->status;
      faults_.erase(rule);
      return status;
    }
  }
  return std::nullopt;
}

void Machine::SetLastError(uint32_t error) {
  if (SimThread* thread = scheduler_->Current()) {
    thread->lastError = error;
  } else {
    outsideLastError_ = error;
  }
}

uint32_t Machine::LastError() const {
  if (SimThread* thread = scheduler_->Current()) return thread->lastError;
  return outsideLastError_;
}

void Machine::AddReport(uint32_t code, const char16_t* message, uint32_t value) {
  ReportRecord record;
  record.timeMs = nowMs_;
  record.code = code;
  record.hasMessage = message != nullptr;
  if (message != nullptr) {
    // Bounded: a report text longer than this is a fault of the caller.
    size_t n = 0;
    while (n < 4096 && message[n] != 0) ++n;
    record.message.assign(message, n);
  }
  record.value = value;
  reports_.push_back(std::move(record));
  SetLastError(kDebugOutputLastError);
}

void Machine::NoteRegistryWrite(const std::u16string& keyName, const char16_t* valueName,
                                uint32_t type, const uint8_t* data, uint32_t size) {
  if (!recordWrites_) return;
  registryWrites_.push_back(RegistryWrite{nowMs_, keyName, valueName ? valueName : u"", type,
                                          std::vector<uint8_t>(data, data + size)});
}

int Machine::ReadConsole() {
  if (consoleInputPos_ >= consoleInput_.size()) return -1;
  return static_cast<unsigned char>(consoleInput_[consoleInputPos_++]);
}

void Machine::At(uint64_t timeMs, std::function<void()> action) {
  timeline_.emplace(timeMs, std::move(action));
}

void Machine::SetEventAt(uint64_t timeMs, std::u16string name) {
  At(timeMs, [this, name] { SetNamedEvent(name); });
}

std::optional<uint64_t> Machine::NextActionTime() const {
  if (timeline_.empty()) return std::nullopt;
  return timeline_.begin()->first;
}

void Machine::AdvanceTo(uint64_t timeMs) {
  // Actions due by then run in time order, each at its own time.
  while (!timeline_.empty() && timeline_.begin()->first <= timeMs) {
    auto node = timeline_.extract(timeline_.begin());
    if (node.key() > nowMs_) nowMs_ = node.key();
    registryClock_ = FileTimeNow();
    node.mapped()();
    interfaceNotifier_->Check();  // an action may have changed the interfaces
  }
  if (timeMs > nowMs_) nowMs_ = timeMs;
  registryClock_ = FileTimeNow();
}

RunEnd Machine::Run(std::function<void()> main, uint64_t durationMs) {
  RunEnd end = scheduler_->Run(std::move(main), durationMs);
  interfaceNotifier_->ProcessEnded();
  // The process is gone: the handles it opened are closed with it.
  for (auto it = kernelHandles_.begin(); it != kernelHandles_.end();) {
    if (it->second.ownedByProcess) {
      it = kernelHandles_.erase(it);
      --openHandles_.kernel;
    } else {
      ++it;
    }
  }
  CloseProcessDeviceHandles(*deviceIoApi_);
  return end;
}

void Machine::ReleaseAbandoned() {
  for (auto& [block, size] : liveBlocks_) std::free(block);
  liveBlocks_.clear();
}

bool Machine::EventExists(std::u16string_view name) const {
  auto it = namedEvents_.find(std::u16string(name));
  return it != namedEvents_.end() && !it->second.expired();
}

bool Machine::SetNamedEvent(std::u16string_view name) {
  auto it = namedEvents_.find(std::u16string(name));
  if (it == namedEvents_.end()) return false;
  auto event = it->second.lock();
  if (!event) return false;
  scheduler_->Signal(event);
  return true;
}

platform::Handle Machine::AddKernelHandle(std::shared_ptr<EventObject> event) {
  nextKernelHandle_ += 4;
  auto handle = reinterpret_cast<platform::Handle>(nextKernelHandle_);
  kernelHandles_[handle] = KernelHandle{std::move(event), scheduler_->InRun()};
  ++openHandles_.kernel;
  return handle;
}

std::shared_ptr<EventObject> Machine::KernelObject(platform::Handle handle) const {
  auto it = kernelHandles_.find(handle);
  return it == kernelHandles_.end() ? nullptr : it->second.object;
}

bool Machine::CloseKernelHandle(platform::Handle handle) {
  if (kernelHandles_.erase(handle) == 0) return false;
  --openHandles_.kernel;
  return true;
}

void* Machine::Allocate(size_t size) {
  ++allocationCount_;
  if (size > largestAllocationAsked_) largestAllocationAsked_ = size;
  if (failAllocationAt_ != 0 && allocationCount_ == failAllocationAt_) {
    SetLastError(platform::kErrorNotEnoughMemory);
    return nullptr;
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    SetLastError(platform::kErrorNotEnoughMemory);
    return nullptr;
  }
  liveBlocks_[block] = size;
  return block;
}

void Machine::Free(void* block) {
  if (liveBlocks_.erase(block) == 0) {
    std::fprintf(stderr, "simulated server: free of a block the heap does not hold\n");
    std::abort();
  }
  std::free(block);
}

}  // namespace sim

#include "platform/sim/machine.h"

#include "platform/sim/api/apis.h"
#include "platform/sim/api/event_log_sim.h"
#include "platform/sim/api/interface_notify_sim.h"
#include "platform/sim/api/machine_internals.h"
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
  MachineInternals machine_;
};

class MemoryApi : public platform::Memory {
 public:
  explicit MemoryApi(Machine& machine) : machine_(machine) {}
  void* Allocate(size_t size) override { return machine_.Allocate(size); }
  void Free(void* block) override { machine_.Free(block); }

 private:
  MachineInternals machine_;
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
  MachineInternals machine_;
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
  filesApi_ = NewFileSystemApi(*this);
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
  platform_.files = filesApi_.get();
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
  kernelObjects_.CloseProcessHandles();
  CloseProcessDeviceHandles(*deviceIoApi_);
  CloseRegistryKeysOf(*registryApi_, scheduler_->AbandonedInCall());
  return end;
}

bool Machine::InTimedWaitOn(const std::vector<std::u16string>& eventNames) const {
  return scheduler_->InTimedWaitOn(eventNames);
}

bool Machine::EventExists(std::u16string_view name) const {
  return kernelObjects_.FindNamed(name) != nullptr;
}

bool Machine::SetNamedEvent(std::u16string_view name) {
  auto event = kernelObjects_.FindNamed(name);
  if (!event) return false;
  scheduler_->Signal(event);
  return true;
}

void* Machine::Allocate(size_t size) {
  void* block = faults_.Allocate(size);
  if (block == nullptr) SetLastError(platform::kErrorNotEnoughMemory);
  return block;
}

}  // namespace sim

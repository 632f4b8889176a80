// A simulated Windows server: the state of one machine behind every platform interface,
// with a virtual clock, threads run as fibers on that clock, a timeline of changes, fault
// injection by call name and occurrence, and a record of every report.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/fault_plan.h"
#include "platform/sim/kernel_objects.h"
#include "platform/sim/scheduler/scheduler.h"
#include "platform/sim/state/adapter_builder.h"
#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/file_system_sim.h"
#include "platform/sim/state/library_sim.h"
#include "platform/sim/state/network_sim.h"
#include "platform/sim/state/registry_sim.h"
#include "platform/sim/state/service_db.h"
#include "platform/sim/state/wmi_sim.h"

namespace sim {

class SimEventLog;
class SimInterfaceNotifier;

struct ReportRecord {
  uint64_t timeMs = 0;  // virtual milliseconds since the machine started
  uint32_t code = 0;
  bool hasMessage = false;
  std::u16string message;
  uint32_t value = 0;
};

// One value written through the registry interface (recorded when asked for).
struct RegistryWrite {
  uint64_t timeMs = 0;
  std::u16string keyName;  // the key's own name (last part of its path)
  std::u16string valueName;
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

// How a run of a simulated process ended.
enum class RunEnd {
  kDurationOver,  // the virtual duration ran out
  kIdle,          // every thread ended or waits forever (a parked caller)
  kReturned,      // the main thread returned and no other thread was left
};

// Handles open through the platform interfaces, by kind (a leak check for tests).
struct OpenHandleCounts {
  int64_t registry = 0;
  int64_t services = 0;
  int64_t kernel = 0;
  int64_t devices = 0;  // CreateFileW handles of simulated devices
};

class Machine {
 public:
  // An empty machine: administrator rights, clock at 2026-01-05 08:00:00 UTC, no console
  // input, module path "C:\Program Files\Corvane\crvnichost.exe".
  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Makes this machine the platform the agent runs on. The destructor uninstalls it.
  void Install();

  // --- state, for scenarios and tests ---
  SimRegistry& registry() { return registry_; }
  ServiceDatabase& services() { return services_; }
  SimNetwork& network() { return network_; }
  const SimNetwork& network() const { return network_; }
  // NDIS devices and the PnP tree; adapter_builder.h adds adapters described once (AddAdapter).
  SimDevices& devices() { return devices_; }
  // Loadable libraries (the vendors' management libraries) and WMI.
  SimLibraries& libraries() { return libraries_; }
  // Folders (files, DACLs) and the process environment (file_system_sim.h).
  SimFileSystem& files() { return files_; }
  SimWmi& wmi() { return wmi_; }
  // Interface change notifications (interface_notify_sim.h).
  SimInterfaceNotifier& interfaceNotifier() { return *interfaceNotifier_; }
  // The Application log and the other logs: every event reported (event_log_sim.h).
  SimEventLog& eventLog() { return *eventLog_; }
  void SetAdministrator(bool administrator) { services_.SetAdministrator(administrator); }
  void SetModuleFileName(std::u16string path) { moduleFileName_ = std::move(path); }
  // The agent library's own path (GetModuleFileNameW of the agent's module); by default
  // "C:\Program Files\Corvane\crvnicmgmt.dll".
  void SetAgentModuleFileName(std::u16string path) { agentModuleFileName_ = std::move(path); }
  const std::u16string& AgentModuleFileName() const { return agentModuleFileName_; }
  void SetConsoleInput(std::string input) { consoleInput_ = std::move(input); }
  const std::string& ConsoleOutput() const { return consoleOutput_; }
  const std::vector<ReportRecord>& Reports() const { return reports_; }
  // Forgets the reports recorded so far (long runs read them in parts).
  void ClearReports() { reports_.clear(); }
  // Messages of the informational reports, in order (a convenience for tests).
  std::vector<std::u16string> InfoMessages() const;

  // Records every value written through the registry interface from now on.
  void RecordRegistryWrites(bool on) { recordWrites_ = on; }
  const std::vector<RegistryWrite>& RegistryWrites() const { return registryWrites_; }

  // --- faults (the fault plan, fault_plan.h) ---
  // Makes the occurrence-th call (1-based) of a Win32 call name fail with status; with
  // occurrence 0 every call fails. Names are the API's: "RegOpenKeyExW", "CreateEventW",
  // "_beginthread", "OpenSCManagerW", "GetModuleFileNameW", "CreateFileW", "DeviceIoControl",
  // "CM_Get_Device_ID_ListW", ... Closing a device handle counts as "CloseHandle(device)",
  // apart from the kernel's "CloseHandle" of events. Every name is in fault_calls.h; another
  // is refused (false) and fails nothing.
  [[nodiscard]] bool FailCall(std::string_view call, uint32_t occurrence, uint32_t status) {
    return faults_.FailCall(call, occurrence, status);
  }
  // Makes one call of a name (any the fault table knows) block its thread before it answers,
  // for blockMs of virtual time or FaultPlan::kBlockForever: the occurrence-th call, or with
  // occurrence 0 the first call at or after fromMs. A thread blocked for good is never
  // resumed; the others go on, and the process ends as any other. False for another name.
  [[nodiscard]] bool BlockCall(std::string_view call, uint32_t occurrence, uint64_t fromMs,
                               uint64_t blockMs) {
    return faults_.BlockCall(call, occurrence, fromMs, blockMs);
  }
  // Makes the n-th allocation (1-based, counted from now) fail.
  void FailAllocation(uint64_t n) { faults_.FailAllocation(n); }
  uint64_t CallCount(std::string_view call) const { return faults_.CallCount(call); }
  uint64_t CallCount(FaultCall call) const { return faults_.CallCount(call); }
  uint64_t AllocationCount() const { return faults_.AllocationCount(); }
  uint64_t LiveAllocations() const { return faults_.LiveAllocations(); }
  // The largest block the agent has asked for, granted or not.
  size_t LargestAllocationAsked() const { return faults_.LargestAllocationAsked(); }

  // --- time and processes ---
  uint64_t NowMs() const { return nowMs_; }
  // The time the clock started at, as a file time.
  uint64_t StartFileTime() const { return startFileTime_; }
  void SetStartFileTime(uint64_t fileTime) {
    startFileTime_ = fileTime;
    registryClock_ = FileTimeNow();
  }
  // Schedules an action at a virtual time (ms since start). Actions run between threads,
  // in time order, and may change any state (set events, edit the registry ...).
  void At(uint64_t timeMs, std::function<void()> action);
  // Sets the named event at a virtual time (no effect when no such event exists then).
  void SetEventAt(uint64_t timeMs, std::u16string name);
  // Moves the clock to timeMs (never back), running the timeline actions due by then, each
  // at its own time.
  void AdvanceTo(uint64_t timeMs);

  // Runs main as the first thread of a simulated process until every thread has ended or
  // waits forever, or until durationMs of virtual time have passed. Threads left waiting
  // are abandoned as a process end abandons them; their memory is kept until ReleaseAbandoned
  // or the machine's destruction.
  RunEnd Run(std::function<void()> main, uint64_t durationMs);
  // Frees every block the agent allocated and did not free (after a process ended).
  void ReleaseAbandoned() { faults_.ReleaseAbandoned(); }
  // Whether the running thread waits, with a time-out, on exactly these named events (in
  // this order; an empty name is an unnamed event).
  bool InTimedWaitOn(const std::vector<std::u16string>& eventNames) const;

  // Whether a named event exists (some handle to it is open).
  bool EventExists(std::u16string_view name) const;
  // Sets a named event now, as another process would; false when it does not exist.
  bool SetNamedEvent(std::u16string_view name);
  OpenHandleCounts& openHandles() { return openHandles_; }

  platform::Platform& platform() { return platform_; }

  // Windows' debugger output leaves this last error behind after every report (AddReport).
  static constexpr uint32_t kDebugOutputLastError = 2;  // ERROR_FILE_NOT_FOUND

 private:
  friend class Scheduler;
  friend class MachineInternals;  // the API families' view (api/machine_internals.h)

  void SetLastError(uint32_t error);
  uint32_t LastError() const;
  // Records a report as Windows' debugger output writes a line, which may leave a last error
  // of its own behind (looking for a debug monitor's buffer that is not there): this one
  // always leaves kDebugOutputLastError, so that a sink that does not keep the caller's last
  // error is seen.
  void AddReport(uint32_t code, const char16_t* message, uint32_t value);
  int ReadConsole();
  // Keeps a value written through the registry interface, when writes are recorded.
  void NoteRegistryWrite(const std::u16string& keyName, const char16_t* valueName, uint32_t type,
                         const uint8_t* data, uint32_t size);
  std::optional<uint64_t> NextActionTime() const;
  uint64_t FileTimeNow() const { return startFileTime_ + nowMs_ * 10000; }
  // A block of the agent's heap, or null with the last error set.
  void* Allocate(size_t size);

  SimRegistry registry_;
  ServiceDatabase services_;
  SimNetwork network_;
  SimDevices devices_;
  SimLibraries libraries_;
  SimFileSystem files_;
  SimWmi wmi_;
  std::unique_ptr<SimInterfaceNotifier> interfaceNotifier_;
  std::unique_ptr<SimEventLog> eventLog_;
  std::u16string agentModuleFileName_ = u"C:\\Program Files\\Corvane\\crvnicmgmt.dll";
  std::unique_ptr<Scheduler> scheduler_;
  std::u16string moduleFileName_;
  std::string consoleInput_;
  size_t consoleInputPos_ = 0;
  std::string consoleOutput_;
  std::vector<ReportRecord> reports_;
  bool recordWrites_ = false;
  std::vector<RegistryWrite> registryWrites_;
  OpenHandleCounts openHandles_;
  FaultPlan faults_;
  KernelObjects kernelObjects_{openHandles_.kernel};
  uint64_t nowMs_ = 0;
  uint64_t startFileTime_ = 0;
  uint64_t registryClock_ = 0;  // file time, read by the registry for last-write times
  std::multimap<uint64_t, std::function<void()>> timeline_;
  uint32_t outsideLastError_ = 0;  // last error of code running outside any fiber

  std::unique_ptr<platform::Registry> registryApi_;
  std::unique_ptr<platform::ServiceManager> servicesApi_;
  std::unique_ptr<platform::Kernel> kernelApi_;
  std::unique_ptr<platform::Console> consoleApi_;
  std::unique_ptr<platform::Memory> memoryApi_;
  std::unique_ptr<platform::Diagnostics> diagnosticsApi_;
  std::unique_ptr<platform::IpHelper> ipHelperApi_;
  std::unique_ptr<platform::CodePage> codePageApi_;
  std::unique_ptr<platform::DeviceIo> deviceIoApi_;
  std::unique_ptr<platform::ConfigManager> configManagerApi_;
  std::unique_ptr<platform::DynamicLibrary> librariesApi_;
  std::unique_ptr<platform::ComWmi> wmiApi_;
  std::unique_ptr<platform::FileSystem> filesApi_;
  platform::Platform platform_;
};

}  // namespace sim

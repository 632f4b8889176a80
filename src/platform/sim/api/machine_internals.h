// What the Windows API families reach inside the simulated machine and no scenario or test
// does: the fault check every call starts with, the calling thread's last error, the
// scheduler, the kernel objects, the agent's heap, the console, the reports and the clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/sim/fault_calls.h"
#include "platform/sim/machine.h"

namespace sim {

class MachineInternals {
 public:
  explicit MachineInternals(Machine& machine) : machine_(machine) {}

  // Counts a call and answers whether it must fail (and with which status). A call planned to
  // block keeps its thread here first, for its virtual time or for good.
  std::optional<uint32_t> CheckFault(FaultCall call) {
    std::optional<uint32_t> fault = machine_.faults_.Check(call);
    if (uint64_t blockMs = machine_.faults_.TakeBlock(call, machine_.NowMs())) {
      machine_.scheduler_->Block(blockMs);
    }
    return fault;
  }
  void SetLastError(uint32_t error) { machine_.SetLastError(error); }
  uint32_t LastError() const { return machine_.LastError(); }
  // Records a report as Windows' debugger output writes a line (Machine::AddReport).
  void AddReport(uint32_t code, const char16_t* message, uint32_t value) {
    machine_.AddReport(code, message, value);
  }
  void WriteConsole(const char* text, size_t length) {
    machine_.consoleOutput_.append(text, length);
  }
  int ReadConsole() { return machine_.ReadConsole(); }
  // Keeps a value written through the registry interface (Machine::RecordRegistryWrites).
  void NoteRegistryWrite(const std::u16string& keyName, const char16_t* valueName, uint32_t type,
                         const uint8_t* data, uint32_t size) {
    machine_.NoteRegistryWrite(keyName, valueName, type, data, size);
  }
  const std::u16string& ModuleFileName() const { return machine_.moduleFileName_; }
  uint64_t FileTimeNow() const { return machine_.FileTimeNow(); }
  uint64_t NowMs() const { return machine_.NowMs(); }
  Scheduler& scheduler() { return *machine_.scheduler_; }
  KernelObjects& kernelObjects() { return machine_.kernelObjects_; }
  // A block of the agent's heap, or null with the last error set.
  void* Allocate(size_t size) { return machine_.Allocate(size); }
  void Free(void* block) { machine_.faults_.Free(block); }

 private:
  Machine& machine_;
};

}  // namespace sim

#include "fuzz_machine.h"

#include <cstdio>
#include <cstdlib>

#include "common/process_state.h"

namespace crvfuzz {

FuzzMachine::FuzzMachine() {
  crv::ResetProcessState();
  machine.Install();
}

FuzzMachine::~FuzzMachine() { crv::ResetProcessState(); }

void FuzzMachine::Done() {
  crv::ResetProcessState();  // process-wide tables are not the harness's to count
  const sim::OpenHandleCounts& handles = machine.openHandles();
  const sim::SimWmi& wmi = machine.wmi();
  if (machine.LiveAllocations() != 0 || handles.registry != 0 || handles.devices != 0 ||
      handles.kernel != 0 || wmi.OutstandingReferences() != 0 || wmi.UnclearedVariants() != 0 ||
      wmi.ArrayLocks() != 0 || wmi.InvalidHandleUses() != 0) {
    std::fprintf(
        stderr,
        "leak: %llu blocks, %lld registry, %lld device, %lld kernel handles, %lld COM "
        "references, %lld variants, %lld array locks, %lld stale handle uses\n",
        static_cast<unsigned long long>(machine.LiveAllocations()),
        static_cast<long long>(handles.registry), static_cast<long long>(handles.devices),
        static_cast<long long>(handles.kernel), static_cast<long long>(wmi.OutstandingReferences()),
        static_cast<long long>(wmi.UnclearedVariants()), static_cast<long long>(wmi.ArrayLocks()),
        static_cast<long long>(wmi.InvalidHandleUses()));
    std::abort();
  }
}

uint8_t Input::Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

uint32_t Input::Word() {
  uint32_t word = 0;
  for (int i = 0; i < 4; ++i) word |= static_cast<uint32_t>(Byte()) << (8 * i);
  return word;
}

std::vector<uint8_t> Input::Bytes(size_t count) {
  size_t n = count < Left() ? count : Left();
  std::vector<uint8_t> bytes(data_ + pos_, data_ + pos_ + n);
  pos_ += n;
  return bytes;
}

std::u16string Input::Text(size_t maxChars) {
  size_t chars = (Byte() | (static_cast<size_t>(Byte()) << 8)) % (maxChars + 1);
  std::u16string text;
  for (size_t i = 0; i < chars && Left() >= 2; ++i) {
    uint8_t low = Byte();
    text.push_back(static_cast<char16_t>(low | (Byte() << 8)));
  }
  return text;
}

std::vector<uint8_t> Input::Rest() { return Bytes(Left()); }

std::u16string WideText(const uint8_t* data, size_t size) {
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  return text;
}

}  // namespace crvfuzz

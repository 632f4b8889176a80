#include "publish/published_tree.h"

#include "common/process_state.h"
#include "platform/platform.h"
#include "publish/registry_key.h"

namespace crv {
namespace {

// The Interface chain, each created only after the one before it.
constexpr const char16_t* kInterfaceChain[] = {
    UnderSystem(kInterfaceKeyPath), UnderSystem(kLogInterfaceMapKeyPath),
    UnderSystem(kPhysInterfaceKeyPath), UnderSystem(kVlanInterfaceKeyPath)};

uint32_t CreateVolatileKey(CRegistryKey& system, const char16_t* path) {
  CRegistryKey created =
      system.Create(path, nullptr, platform::kRegOptionVolatile, platform::kKeyAllAccess);
  return static_cast<uint32_t>(created.LastError());
}

}  // namespace

uint32_t CreateTree(bool hasEthernet) {
  CRegistryKey system = RootKey().Open(kSystemKeyPath, platform::kKeyCreateSubKey, true);
  uint32_t status = static_cast<uint32_t>(system.LastError());
  if (status != 0) return status;
  for (const char16_t* path : kInterfaceChain) {
    status = CreateVolatileKey(system, path);
    if (status != 0) break;
  }
  if (hasEthernet) {
    status = CreateVolatileKey(system, UnderSystem(kEthernetKeyPath));
    if (status == 0) status = CreateVolatileKey(system, UnderSystem(kEthernetStatisticsKeyPath));
  }
  return status;
}

void PublishStatus(uint32_t status, const SoftwareRevisionsRecord& revisions) {
  WriteDwordValue(kTreeKeyPath, kStatusValue, status);
  WriteValue(kInterfaceKeyPath, kSoftwareRevisionsValue, platform::kRegBinary, &revisions,
             sizeof revisions);
}

void DeleteTree(bool hasEthernet) {
  CRegistryKey system = RootKey().Open(kSystemKeyPath, platform::kKeyAllAccess, true);
  if (system.LastError() != 0) return;
  const char16_t* const withEthernet[] = {UnderSystem(kEthernetStatisticsKeyPath),
                                          UnderSystem(kEthernetKeyPath)};
  const char16_t* const rest[] = {UnderSystem(kLogInterfaceMapKeyPath),
                                  UnderSystem(kPhysInterfaceKeyPath),
                                  UnderSystem(kVlanInterfaceKeyPath),
                                  UnderSystem(kInterfaceKeyPath), UnderSystem(kTreeKeyPath)};
  if (hasEthernet) {
    for (const char16_t* path : withEthernet) {
      if (system.DeleteSubKey(path).LastError() != 0) return;
    }
  }
  for (const char16_t* path : rest) {
    if (system.DeleteSubKey(path).LastError() != 0) return;
  }
}

uint32_t WriteValue(const char16_t* keyPath, const char16_t* valueName, uint32_t type,
                    const void* data, uint32_t size) {
  CRegistryKey key = RootKey().Open(keyPath, platform::kKeySetValue, true);
  if (key.LastError() != 0) return static_cast<uint32_t>(key.LastError());
  return static_cast<uint32_t>(key.SetValue(valueName, type, data, size));
}

uint32_t WriteDwordValue(const char16_t* keyPath, const char16_t* valueName, uint32_t value) {
  return WriteValue(keyPath, valueName, platform::kRegDword, &value, sizeof value);
}

uint32_t WriteCycleTime() {
  platform::FileTime now;
  platform::Os().kernel->GetSystemTimeAsFileTime(&now);
  uint64_t fileTime = static_cast<uint64_t>(now.high) << 32 | now.low;
  return WriteValue(kInterfaceKeyPath, kInterfaceDataCycleTimeValue, platform::kRegQword, &fileTime,
                    sizeof fileTime);
}

uint32_t WriteNumberedValue(const char16_t* keyPath, const char16_t* prefix, uint32_t number,
                            const void* data, uint32_t size) {
  char16_t name[kNumberedValueNameChars];
  if (FormatNumberedValueName(prefix, number, name, kNumberedValueNameChars) == 0) {
    return platform::kErrorInvalidParameter;
  }
  return WriteValue(keyPath, name, platform::kRegBinary, data, size);
}

uint32_t AdvanceCycleCounter() {
  uint32_t& counter = State().cycleCounter;
  ++counter;
  if (counter == 0) counter = 2;
  return counter;
}

void ResetNumbering() {
  State().nextInterfaceMapNumber = 1;
  State().nextPhysPortNumber = 1;
  State().nextVlanMapNumber = 1;
}

uint32_t NextInterfaceMapNumber() { return State().nextInterfaceMapNumber++; }
uint32_t NextPhysPortNumber() { return State().nextPhysPortNumber++; }
uint32_t NextVlanMapNumber() { return State().nextVlanMapNumber++; }

}  // namespace crv

#include "platform/sim/state/library_sim.h"

#include "platform/sim/machine.h"
#include "platform/sim/state/device_sim.h"

namespace sim {
namespace {

Machine* g_libraryMachine = nullptr;

}  // namespace

SimVendorLibrary& SimLibraries::Library(VendorLibraryId id) {
  return libraries_[static_cast<size_t>(id)];
}

const SimVendorLibrary& SimLibraries::Library(VendorLibraryId id) const {
  return libraries_[static_cast<size_t>(id)];
}

int64_t SimLibraries::LoadedReferences() const {
  int64_t total = 0;
  for (const auto& library : libraries_) total += library.references;
  return total;
}

Machine* CurrentLibraryMachine() { return g_libraryMachine; }
void SetCurrentLibraryMachine(Machine* machine) { g_libraryMachine = machine; }

DevNode& AddBmapiClassDevice(Machine& machine, std::u16string instanceId, std::u16string location) {
  DevNode node;
  node.instanceId = std::move(instanceId);
  node.classGuid = kBmapiDeviceClassGuidText;
  if (!location.empty()) node.SetText(platform::kCmDrpLocationInformation, location);
  return machine.devices().AddNode(std::move(node));
}

bool AddBmapiClassDeviceFor(Machine& machine, std::u16string instanceId, std::u16string_view guid) {
  const AdapterRecord* adapter = machine.devices().FindAdapter(guid);
  if (adapter == nullptr) return false;
  const DevNode* node = machine.devices().FindNode(adapter->instanceId);
  if (node == nullptr) return false;
  auto location = node->Text(platform::kCmDrpLocationInformation);
  if (!location || location->empty()) return false;
  AddBmapiClassDevice(machine, std::move(instanceId), *location);
  return true;
}

}  // namespace sim

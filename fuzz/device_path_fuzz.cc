// libFuzzer entry for the device path rule: a present network-class device whose NDIS LAN
// interface paths come from the input is enumerated by the agent's own walk (first path only,
// lower-cased, kept when the rule accepts it); every kept interface then hands out its GUID
// text, device name and path into buffers of exactly the sizes it states.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/alloc.h"
#include "discovery/net_class_if.h"
#include "fuzz_machine.h"
#include "platform/sim/state/device_sim.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  crvfuzz::FuzzMachine fuzz;
  crvfuzz::Input input(data, size);
  sim::DevNode node;
  node.instanceId = u"PCI\\VEN_8086&DEV_1572&SUBSYS_00068086&REV_01\\4&1A2B3C4D&0&0008";
  node.classGuid = sim::kNetClassGuidText;
  uint8_t paths = input.Byte() % 3 + 1;
  for (uint8_t i = 0; i < paths; ++i) {
    std::u16string path = input.Text(400);
    // The configuration manager's list is terminated text by terminated text.
    if (path.find(u'\0') != std::u16string::npos) path.resize(path.find(u'\0'));
    if (!path.empty()) node.ndisLanInterfaces.push_back(path);
  }
  fuzz.machine.devices().AddNode(node);

  auto* list = crv::NewObject<crv::CNetClassIfList>();
  if (list == nullptr) std::abort();
  list->Enumerate();
  for (crv::NETCLASSIFNODE* n = list->Head(); n != nullptr; n = n->next) {
    const crv::CNetClassIf& netIf = *n->element;
    auto* name = static_cast<char16_t*>(crv::AllocateZeroed(netIf.DeviceNameSize()));
    auto* path = static_cast<char16_t*>(crv::AllocateZeroed(netIf.PathSize()));
    if (netIf.CopyDeviceName(name) != 0 || netIf.CopyPath(path) != 0) std::abort();
    if (!crv::IsManagedInterfacePath(path)) std::abort();  // only accepted paths are kept
    crv::FreeBlock(name);
    crv::FreeBlock(path);
  }
  crv::DeleteObject(list);
  fuzz.Done();
  return 0;
}

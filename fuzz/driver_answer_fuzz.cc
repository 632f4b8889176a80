// libFuzzer entry for the driver answers the agent turns into texts and link values: the name
// of a driver's private query device (OID 0xFF0201A9, used as the rest of a device path), the
// vendor firmware answers (Intel adapter information, NetXen/QLogic words, Emulex text,
// Mellanox word), the vendor management libraries' firmware records, and the private link
// and duplex answers of the driver families. One miniport of the simulated machine answers
// from the input; its firmware version goes into a field of the port record's size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/alloc.h"
#include "discovery/firmware_version.h"
#include "discovery/miniport.h"
#include "fuzz_machine.h"
#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/library_sim.h"
#include "publish/records.h"

namespace {

constexpr char16_t kGuid[] = u"{0F0F0F0F-0000-4000-8000-000000000001}";
constexpr char16_t kDeviceName[] = u"\\\\.\\{0F0F0F0F-0000-4000-8000-000000000001}";
constexpr char16_t kPath[] =
    u"\\\\?\\pci#ven_8086&dev_1572#4&1a2b&0&0008#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\"
    u"{0f0f0f0f-0000-4000-8000-000000000001}";

// PCI identifier words that pick each firmware method (Intel, NetXen, QLogic, Emulex twice,
// Broadcom on PCI, a function under a Broadcom and a QLogic virtual bus, Solarflare,
// Mellanox) and one that picks none.
constexpr uint32_t kPciWords[] = {0x80861572, 0x40400100, 0x10770100, 0x19A20700,
                                  0x10DF0720, 0x14E4165F, 0x165F14E4, 0x16A11077,
                                  0x19240903, 0x15B31015, 0x12345678};

// OIDs whose answers come from the input (besides the private device).
constexpr uint32_t kAnsweredOids[] = {
    sim::kOidGenLinkSpeed,        sim::kOidGenMediaConnectStatus, sim::kOidGenLinkState,
    sim::kOidGenMediaDuplexState, sim::kOidPrivateAdapterInfo,    sim::kOidPrivateCountersA,
    sim::kOidPrivateCountersB,    sim::kOidVendorDuplex,          sim::kOidNetXenFirmware,
    sim::kOidEmulexFirmware,      sim::kOidMellanoxFirmware,
};

sim::OidAnswer Answer(crvfuzz::Input& input) {
  uint8_t how = input.Byte();
  if (how % 4 == 0) return sim::OidAnswer::Fail(50);
  return sim::OidAnswer::Bytes(input.Bytes(input.Byte() + (how & 0x80 ? 32 : 0)));
}

sim::MapiFirmwareAnswer FirmwareAnswer(crvfuzz::Input& input) {
  sim::MapiFirmwareAnswer answer;
  answer.status = input.Byte() % 3 == 0 ? 1 : 0;
  std::vector<uint8_t> text = input.Bytes(input.Byte());
  answer.text.assign(text.begin(), text.end());
  return answer;
}

// The vendor libraries know the adapter, with firmware records from the input.
void AddLibraries(sim::Machine& machine, crvfuzz::Input& input) {
  for (sim::SimVendorLibrary* library :
       {&machine.libraries().qlmapi(), &machine.libraries().bmapi()}) {
    library->present = (input.Byte() & 1) != 0;
    sim::MapiAdapter adapter;
    adapter.handle = 5;
    adapter.firmwareStatus = input.Byte() % 2;
    adapter.firmwareWord = static_cast<uint16_t>(input.Word());
    library->adapters[kGuid] = adapter;
    library->phyNics.push_back(sim::MapiPhyNic{9, 6, 5, 0});
    sim::MapiVbdFirmware& firmware = library->vbdFirmware[9];
    firmware.fw5706 = FirmwareAnswer(input);
    firmware.fw57710 = FirmwareAnswer(input);
    firmware.fw579xx = FirmwareAnswer(input);
  }
}

constexpr size_t kFieldBytes = sizeof(crv::PhysAdapterRecord::firmwareVersion);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  crvfuzz::FuzzMachine fuzz;
  crvfuzz::Input input(data, size);
  sim::NdisDevice& device = fuzz.machine.devices().AddNdis(kGuid);
  device.oids[sim::kOidGenMediaInUse] = sim::OidAnswer::Dword(0);
  device.oids[sim::kOid8023CurrentAddress] = sim::OidAnswer::Bytes({0, 0x1B, 0x21, 1, 2, 3});

  uint32_t pciWord = kPciWords[input.Byte() % std::size(kPciWords)];
  uint8_t family = input.Byte() % 18;
  uint8_t privateDevice = input.Byte();
  if (privateDevice & 1) {
    // The name the driver gives, as raw bytes: neither terminated nor of any set length.
    std::vector<uint8_t> name = input.Bytes(input.Byte() * 2 + (privateDevice & 2 ? 256 : 0));
    sim::PrivateQueryDevice channel;
    for (size_t i = 0; i + 1 < name.size() && (name[i] | name[i + 1]) != 0; i += 2) {
      channel.name.push_back(static_cast<char16_t>(name[i] | (name[i + 1] << 8)));
    }
    for (uint32_t oid : {sim::kOidPrivateDuplex, sim::kOidPrivateAdapterInfo}) {
      sim::PrivateAnswer answer;
      answer.data = input.Bytes(input.Byte());
      answer.status = input.Byte() % 4 == 0 ? sim::kNdisStatusNotSupported : 0;
      channel.answers[oid] = answer;
    }
    device.privateDevice = channel;
    device.oids[sim::kOidPrivateQueryDeviceName] = sim::OidAnswer::Bytes(name);
  }
  for (uint32_t oid : kAnsweredOids) device.oids[oid] = Answer(input);
  AddLibraries(fuzz.machine, input);

  auto* miniport = crv::NewObject<crv::CMiniport>();
  if (miniport == nullptr) std::abort();
  if (miniport->Init(kPath, sizeof kPath, kDeviceName, sizeof kDeviceName) == 0) {
    miniport->SetPciId(pciWord);
    miniport->SetDriverFamily(family);
    crv::LinkInformation link{};
    miniport->GetDynamicData(&link);
    auto* field = static_cast<char*>(crv::AllocateZeroed(kFieldBytes));
    crv::GetFirmwareVersion(*miniport, field, kFieldBytes);
    if (std::memchr(field, 0, kFieldBytes) == nullptr) {
      std::abort();
    }
    crv::FreeBlock(field);
  }
  crv::DeleteObject(miniport);
  fuzz.Done();
  return 0;
}

// libFuzzer entry for the WMI answers the agent reads: EFX_Port objects (Solarflare firmware
// by MAC address) and the MSSmBios_RawSMBiosTables object (the raw SMBIOS table and its
// version properties), with every property of a type, size and array bound the input picks.
// The firmware text goes into a buffer of exactly its stated size; the SMBIOS block read is
// walked by the platform inventory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "common/alloc.h"
#include "discovery/firmware_version.h"
#include "fuzz_machine.h"
#include "inventory/platform_inventory.h"
#include "inventory/smbios_wmi.h"
#include "platform/platform.h"
#include "platform/sim/state/wmi_sim.h"

namespace {

constexpr char16_t kNamespace[] = u"root\\wmi";
constexpr uint16_t kIntegerKinds[] = {platform::kVtI1,  platform::kVtUi1, platform::kVtI2,
                                      platform::kVtUi2, platform::kVtI4,  platform::kVtUi4,
                                      platform::kVtI8,  platform::kVtUi8, platform::kVtBool};
constexpr uint8_t kMac[6] = {0x00, 0x0F, 0x53, 0x01, 0x02, 0x03};

// A value of any kind WMI hands over; arrays lean towards the MAC address so that matches
// happen.
sim::WmiValue Value(crvfuzz::Input& input, bool preferBytes) {
  uint8_t kind = input.Byte();
  uint16_t element = kIntegerKinds[(kind >> 4) % std::size(kIntegerKinds)];
  switch (kind % 7) {
    case 0:
      return sim::WmiValue::Empty();
    case 1:
      return sim::WmiValue::Null();
    case 2:
      return element == platform::kVtBool
                 ? sim::WmiValue::Bool(input.Byte() & 1)
                 : sim::WmiValue::Integer(element, static_cast<int32_t>(input.Word()));
    case 3:
      return sim::WmiValue::Text(input.Text(600));
    default: {
      int32_t lowerBound = (kind & 8) ? static_cast<int32_t>(input.Word()) : 0;
      size_t count = input.Byte() % 12;
      std::vector<int64_t> elements;
      for (size_t i = 0; i < count; ++i) {
        uint8_t pick = input.Byte();
        elements.push_back(pick < 0xC0 && i < 6 ? kMac[i] : static_cast<int32_t>(input.Word()));
      }
      if (preferBytes && (kind & 0x10)) {
        return sim::WmiValue::Bytes(input.Bytes(input.Byte() * 4), lowerBound);
      }
      // Bound and count together must stay inside what a SAFEARRAY can describe.
      if (lowerBound > INT32_MAX - 16) lowerBound = INT32_MAX - 16;
      return sim::WmiValue::Array(element, elements, lowerBound);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  crvfuzz::FuzzMachine fuzz;
  crvfuzz::Input input(data, size);
  sim::SimWmi& wmi = fuzz.machine.wmi();
  wmi.SetAvailable(true);
  uint8_t ports = input.Byte() % 4;
  for (uint8_t i = 0; i < ports; ++i) {
    sim::WmiObject& port = wmi.AddObject(kNamespace, u"EFX_Port");
    port.Set(u"externalport",
             input.Byte() & 1 ? sim::WmiValue::Integer(platform::kVtI4, 1) : Value(input, false));
    port.Set(u"currentmacaddress", Value(input, false));
    port.Set(u"mcfwversion", Value(input, false));
  }
  sim::WmiObject& tables = wmi.AddObject(kNamespace, u"MSSmBios_RawSMBiosTables");
  tables.Set(u"SMBiosData", Value(input, true));
  for (const char16_t* name : {u"Size", u"Used20CallingMethod", u"SmbiosMajorVersion",
                               u"SmbiosMinorVersion", u"DmiRevision"}) {
    tables.Set(name, Value(input, false));
  }

  // The firmware text, into a buffer of exactly the size the reader is given.
  auto* version =
      static_cast<char16_t*>(crv::AllocateZeroed(crv::kEfxFirmwareChars * sizeof(char16_t)));
  crv::GetEfxFirmwareByMac(version, kMac);
  crv::FreeBlock(version);

  // The raw table, as the inventory reads it with COM initialised around the collection.
  platform::ComWmi& com = *platform::Os().wmi;
  platform::HResult init = com.CoInitializeEx(platform::kCoinitMultithreaded);
  uint8_t* block = nullptr;
  size_t blockBytes = 0;
  if (crv::ReadRawSmbiosBlock(&block, &blockBytes) == 0) crv::FreeBlock(block);
  crv::LoadPlatformInventory();
  char name[64];
  crv::GetSystemProductName(name, sizeof name);
  if (init >= 0) com.CoUninitialize();
  fuzz.Done();
  if (wmi.OutstandingComInits() != 0 || wmi.UnbalancedUninits() != 0) std::abort();
  return 0;
}

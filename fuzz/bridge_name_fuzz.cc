// libFuzzer entry for the bridge connection name, the one key of the tree another component
// writes: BridgeConnectionName and BridgeIfTableIndex of any registry type and bytes (odd
// lengths, no terminator, longer than the agent's field). The agent's own list build reads
// them for a VLAN interface of a simulated team; the VLAN then keeps its own interface index
// unless the name is the VLAN's connection name, "N/A".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "collect/if_list.h"
#include "common/alloc.h"
#include "discovery/miniport.h"
#include "fuzz_machine.h"
#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/wmi_sim.h"
#include "publish/records.h"

namespace {

constexpr char16_t kTree[] = u"SYSTEM\\TessarNetwork";
constexpr char16_t kBridging[] = u"SYSTEM\\TessarNetwork\\Interface\\BridgingInfo";
constexpr uint32_t kVlanIfIndex = 21;
constexpr uint32_t kRegistryTypes[] = {0, 1, 2, 3, 4, 5, 7, 11};

// Team 7 of NIC Teaming: a member port (flags 1) or a team interface with its VLAN id.
void SetTeamInformation(sim::Machine& machine, const std::u16string& guid, uint32_t flags,
                        uint32_t attribute) {
  sim::LbfoTeam piece;
  piece.name = u"Team 7";
  if ((flags & 1) != 0) {
    piece.members.push_back({u"Port " + guid, guid});
  } else {
    piece.teamNics.push_back({u"Team 7 - VLAN " + guid, guid, attribute, attribute == 0});
  }
  sim::AddLbfoTeam(machine.wmi(), piece);
}

// One member port of team 7 and the team's VLAN interface 5.
void AddVlan(sim::Machine& machine) {
  sim::SimAdapter member;
  member.guid = u"{7B000000-0000-4000-8000-000000000001}";
  member.mac = {0x00, 0x1B, 0x21, 0x7E, 0x00, 0x01};
  member.ifIndex = 0;
  member.description = u"Intel(R) Ethernet Controller X710";
  member.service = u"i40ea";
  member.bus = 4;
  sim::AddAdapter(machine, member);
  SetTeamInformation(machine, member.guid, 1, 0);

  sim::SimAdapter vlan;
  vlan.guid = u"{7B000000-0000-4000-8000-0000000000AA}";
  vlan.mac = {0x00, 0x1B, 0x21, 0x7E, 0x00, 0x01};
  vlan.ifIndex = kVlanIfIndex;
  vlan.kind = sim::AdapterKind::kOther;
  vlan.instanceId = u"ROOT\\CV_CRVTEAMMP\\0001";
  vlan.description = u"Corvane Team Interface";
  vlan.service = u"crvteam";
  vlan.ipv4 = {{0x1500000A, 0x00FFFFFF}};
  sim::AddAdapter(machine, vlan);
  SetTeamInformation(machine, vlan.guid, 2, 5);
}

// Whether the name as stored reads "N/A" in any case. The agent copies the value's bytes
// into a zeroed field of 256 bytes that keeps its last character a terminator, so the text
// ends at the first zero character, at the end of the data, or at the field's end.
bool NamesTheVlan(uint32_t type, const std::vector<uint8_t>& bytes) {
  if (type != 1 && type != 7) return false;
  std::u16string text;
  for (size_t i = 0; i < bytes.size() && text.size() < 127; i += 2) {
    char16_t c = static_cast<char16_t>(bytes[i] | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0));
    if (c == 0) break;
    text.push_back(c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c);
  }
  return text == u"n/a";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  crvfuzz::FuzzMachine fuzz;
  crvfuzz::Input input(data, size);
  AddVlan(fuzz.machine);
  uint32_t nameType = kRegistryTypes[input.Byte() % std::size(kRegistryTypes)];
  std::vector<uint8_t> name = input.Bytes(input.Byte() * 3);
  uint32_t indexType = kRegistryTypes[input.Byte() % std::size(kRegistryTypes)];
  std::vector<uint8_t> index = input.Bytes(input.Byte() % 9);
  if (input.Byte() & 1)
    fuzz.machine.registry().SetValue(kBridging, u"BridgeConnectionName", nameType, name);
  if (input.Byte() & 1)
    fuzz.machine.registry().SetValue(kBridging, u"BridgeIfTableIndex", indexType, index);
  fuzz.machine.registry().CreateKey(kBridging);
  bool hasName = fuzz.machine.registry().GetValue(kBridging, u"BridgeConnectionName").has_value();

  auto* list = crv::NewObject<crv::CIFList>();
  if (list == nullptr) std::abort();
  if (list->Build(nullptr) == 0) {
    list->PublishCycle();  // the records are written by the cycle
    auto value = fuzz.machine.registry().GetValue(
        std::u16string(kTree) + u"\\Interface\\VlanInterface", u"VlanMap001");
    if (!value || value->data.size() != sizeof(crv::VlanMapRecord)) std::abort();
    crv::VlanMapRecord vlan;
    std::memcpy(&vlan, value->data.data(), sizeof vlan);
    if ((!hasName || !NamesTheVlan(nameType, name)) && vlan.interfaceIndex != kVlanIfIndex) {
      std::abort();
    }
  }
  crv::DeleteObject(list);
  fuzz.Done();
  return 0;
}

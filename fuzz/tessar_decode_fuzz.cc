// libFuzzer entry for the tree decoder: the first byte chooses between a dump file and one
// value of one record kind; the rest is the outside data.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "tessar_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const struct {
    const char* key;
    const char* name;
  } kValues[] = {
      {"Interface", "MibStats"},
      {"Interface", "IfTableInformation"},
      {"Interface", "SoftwareRevisions"},
      {"Interface\\LogInterfaceMap", "InterfaceMap001"},
      {"Interface\\PhysInterface", "PhysAdapter001"},
      {"Interface\\VlanInterface", "VlanMap001"},
      {"Ethernet\\Statistics", "Statistics001"},
      {"Trap_ConnectivityLost", "TrapData01DA3C4577462146"},
      {"Interface\\BridgingInfo", "BridgeConnectionName"},
      {"", "Status"},
  };
  constexpr size_t kChoices = sizeof kValues / sizeof kValues[0];
  uint8_t choice = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  if (choice % (kChoices + 1) == kChoices) {
    std::optional<tessar::RawKey> tree;
    tessar::ParseError error;
    if (tessar::ParseDump(rest, &tree, &error) && tree) {
      tessar::DecodedKey decoded = tessar::DecodeTree(*tree);
      tessar::RenderTable(decoded);
      tessar::RenderJson(decoded);
    }
    return 0;
  }
  const auto& target = kValues[choice % (kChoices + 1)];
  // The second byte is the registry type, so wrong types are tried as well.
  uint32_t type = size > 1 ? data[1] % 12 : 3;
  tessar::RawValue value{target.name, type, {rest.begin(), rest.end()}};
  tessar::RawKey key{"SYSTEM\\TessarNetwork", true, {}, {}};
  tessar::RawKey* holder = &key;
  if (*target.key != 0) {
    key.subkeys.push_back(tessar::RawKey{target.key, std::nullopt, {value}, {}});
    holder = &key.subkeys.back();
  } else {
    holder->values.push_back(value);
  }
  tessar::DecodedKey decoded = tessar::DecodeTree(key);
  tessar::RenderTable(decoded);
  tessar::RenderJson(decoded);
  return 0;
}

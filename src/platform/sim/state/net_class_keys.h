// The network class key's subkeys ("0000", "0001", ...) by the adapter GUID each names
// (NetCfgInstanceId), and the highest number in use, so that adding an adapter finds its
// driver key without reading every subkey: on a server of thousands of adapters a read of all
// of them per adapter would make adding them cost the square of their number.
//
// The index is taken from the registry again whenever the class key's subkeys were added or
// removed other than through KeyFor and Claimed (the key's subkey edits tell), or the class
// key itself was replaced. A candidate's NetCfgInstanceId is read again before it is given
// out, so a value edited in place is not trusted; a NetCfgInstanceId written into a subkey
// that the index did not file under that GUID is seen at the next retake.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/state/registry_sim.h"

namespace sim {

class NetClassKeys {
 public:
  // The path of the class key's subkey for the GUID: the first subkey (in the registry's
  // order) whose NetCfgInstanceId names it, or a new number after the highest four-digit one
  // in use. The class key must exist.
  std::u16string KeyFor(SimRegistry& registry, std::u16string_view guid);
  // After KeyFor's subkey was (re)created with the GUID's NetCfgInstanceId: files it under
  // the GUID and accepts the subkey edits made since KeyFor.
  void Claimed(SimRegistry& registry, std::u16string_view keyPath, std::u16string_view guid);

 private:
  // The class key's node, with the index taken again when it is out of date.
  std::shared_ptr<RegKeyNode> Current(SimRegistry& registry);
  void Take(const RegKeyNode& classKey);
  void File(std::u16string_view subkeyName, std::u16string_view guid);

  std::weak_ptr<RegKeyNode> classKey_;
  uint64_t seenEdits_ = 0;
  // GUID to the subkeys naming it, in the registry's order.
  std::map<std::u16string, std::vector<std::u16string>, NoCaseLess> byGuid_;
  int highest_ = -1;  // the highest four-digit subkey number; -1: none
};

}  // namespace sim

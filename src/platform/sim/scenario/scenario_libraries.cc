#include "platform/sim/scenario/scenario_libraries.h"

#include "common/utf.h"
#include "platform/sim/scenario/scenario_json.h"
#include "platform/sim/state/library_sim.h"

namespace sim {
namespace {

using nlohmann::json;
using namespace scenario_json;

uint32_t Optional32(const json& node, const char* field, const std::string& where,
                    uint32_t fallback = 0) {
  return node.contains(field) ? Hex32(node[field], where + "." + field) : fallback;
}

std::string Item(const std::string& where, const char* field, size_t i) {
  return where + "." + field + "[" + std::to_string(i) + "]";
}

// {"status": S, "<field>": V}: the status and the value (0 when not given).
std::pair<uint32_t, uint32_t> StatusAnd(const json& node, const char* field,
                                        const std::string& where) {
  if (!node.is_object()) Bad(where, "expected an object");
  return {Optional32(node, "status", where), Optional32(node, field, where)};
}

MapiFirmwareAnswer ParseFirmwareText(const json& node, const std::string& where) {
  if (!node.is_object()) Bad(where, "expected an object");
  MapiFirmwareAnswer answer;
  answer.status = Optional32(node, "status", where);
  if (node.contains("text")) answer.text = Text(node["text"], where + ".text");
  return answer;
}

MapiAdapter ParseAdapter(const json& node, const std::string& where) {
  MapiAdapter a;
  a.handle = Hex32(Need(node, "handle", where), where + ".handle");
  a.handleStatus = Optional32(node, "handle_status", where);
  if (node.contains("firmware")) {
    auto [status, word] = StatusAnd(node["firmware"], "word", where + ".firmware");
    if (word > 0xFFFF) Bad(where + ".firmware.word", "does not fit in 16 bits");
    a.firmwareStatus = status;
    a.firmwareWord = static_cast<uint16_t>(word);
  }
  if (node.contains("nic_info")) {
    std::tie(a.nicInfoStatus, a.nicInfoDuplex) =
        StatusAnd(node["nic_info"], "duplex", where + ".nic_info");
  }
  if (node.contains("link_status")) {
    std::tie(a.linkStatusStatus, a.linkStatusDuplex) =
        StatusAnd(node["link_status"], "duplex", where + ".link_status");
  }
  return a;
}

void LoadClassDevice(Machine& machine, const json& node, const std::string& where) {
  std::u16string id = Wide(Need(node, "instance_id", where), where + ".instance_id");
  if (node.contains("adapter")) {
    std::u16string guid = Wide(node["adapter"], where + ".adapter");
    if (!AddBmapiClassDeviceFor(machine, id, guid)) {
      Bad(where + ".adapter", "no adapter with a location text has this GUID");
    }
  } else {
    AddBmapiClassDevice(machine, id, Wide(Need(node, "location", where), where + ".location"));
  }
}

void LoadVendorLibrary(Machine& machine, SimVendorLibrary& library, const json& node,
                       const std::string& where) {
  if (!node.is_object()) Bad(where, "expected an object");
  library.present = !node.contains("present") || Flag(node["present"], where + ".present");
  if (node.contains("folder")) {
    library.folder = Wide(node["folder"], where + ".folder");
    machine.files().AddFolder(library.folder);
  }
  if (node.contains("missing")) {
    const json& names = List(node, "missing", where);
    for (size_t i = 0; i < names.size(); ++i) {
      library.missingEntryPoints.insert(Text(names[i], Item(where, "missing", i)));
    }
  }
  if (node.contains("initialize_statuses")) {
    const json& statuses = List(node, "initialize_statuses", where);
    for (size_t i = 0; i < statuses.size(); ++i) {
      library.initializeStatuses.push_back(
          Hex32(statuses[i], Item(where, "initialize_statuses", i)));
    }
  }
  library.uninitializeStatus = Optional32(node, "uninitialize_status", where);
  library.numPhyNicStatus = Optional32(node, "num_phy_nic_status", where);
  library.allPhyNicStatus = Optional32(node, "all_phy_nic_status", where);
  if (node.contains("adapters")) {
    const json& list = List(node, "adapters", where);
    for (size_t i = 0; i < list.size(); ++i) {
      std::string w = Item(where, "adapters", i);
      std::u16string guid = Wide(Need(list[i], "guid", w), w + ".guid");
      library.adapters[guid] = ParseAdapter(list[i], w);
    }
  }
  if (node.contains("phy_nics")) {
    const json& list = List(node, "phy_nics", where);
    for (size_t i = 0; i < list.size(); ++i) {
      std::string w = Item(where, "phy_nics", i);
      MapiPhyNic nic;
      nic.handle = Hex32(Need(list[i], "handle", w), w + ".handle");
      nic.type = Optional32(list[i], "type", w);
      nic.owner = Optional32(list[i], "owner", w);
      nic.enumStatus = Optional32(list[i], "enum_status", w);
      library.phyNics.push_back(nic);
    }
  }
  if (node.contains("vbd_firmware")) {
    const json& list = List(node, "vbd_firmware", where);
    for (size_t i = 0; i < list.size(); ++i) {
      std::string w = Item(where, "vbd_firmware", i);
      MapiVbdFirmware& fw = library.vbdFirmware[Hex32(Need(list[i], "handle", w), w + ".handle")];
      if (list[i].contains("fw5706"))
        fw.fw5706 = ParseFirmwareText(list[i]["fw5706"], w + ".fw5706");
      if (list[i].contains("fw57710")) {
        fw.fw57710 = ParseFirmwareText(list[i]["fw57710"], w + ".fw57710");
      }
      if (list[i].contains("fw579xx")) {
        fw.fw579xx = ParseFirmwareText(list[i]["fw579xx"], w + ".fw579xx");
      }
    }
  }
  if (node.contains("nics")) {
    const json& list = List(node, "nics", where);
    for (size_t i = 0; i < list.size(); ++i) {
      std::string w = Item(where, "nics", i);
      LocalNic nic;
      nic.handle = Hex32(Need(list[i], "handle", w), w + ".handle");
      nic.kind = Optional32(list[i], "kind", w, nic.kind);
      if (list[i].contains("pnp_device_id")) {
        nic.pnpDeviceId = Text(list[i]["pnp_device_id"], w + ".pnp_device_id");
      }
      nic.value = Optional32(list[i], "value", w);
      nic.phyNicStatus = Optional32(list[i], "phy_nic_status", w);
      nic.pnpDevIdStatus = Optional32(list[i], "pnp_dev_id_status", w);
      nic.nicInfoExStatus = Optional32(list[i], "nic_info_ex_status", w);
      library.localNics.push_back(nic);
    }
  }
  if (node.contains("class_devices")) {
    const json& list = List(node, "class_devices", where);
    for (size_t i = 0; i < list.size(); ++i) {
      LoadClassDevice(machine, list[i], Item(where, "class_devices", i));
    }
  }
}

// {"path": "C:\\...", "null_dacl": false, "dacl": [{"sid": "S-1-5-32-545", "mask": "0x1301BF",
// "type": 0, "flags": 3}], "files": ["x.dll"]}
void LoadFolder(Machine& machine, const json& node, const std::string& where) {
  if (!node.is_object()) Bad(where, "expected an object");
  SimFolder& folder = machine.files().AddFolder(Wide(Need(node, "path", where), where + ".path"));
  if (node.contains("null_dacl")) folder.nullDacl = Flag(node["null_dacl"], where + ".null_dacl");
  if (node.contains("dacl")) {
    folder.dacl.clear();
    const json& list = List(node, "dacl", where);
    for (size_t i = 0; i < list.size(); ++i) {
      std::string w = Item(where, "dacl", i);
      SimAce ace;
      ace.sid = Text(Need(list[i], "sid", w), w + ".sid");
      if (SimFileSystem::SidBytes(ace.sid).empty()) Bad(w + ".sid", "not a SID text");
      ace.mask = Hex32(Need(list[i], "mask", w), w + ".mask");
      uint32_t type = Optional32(list[i], "type", w), flags = Optional32(list[i], "flags", w);
      if (type > 0xFF || flags > 0xFF) Bad(w, "type and flags are bytes");
      ace.type = static_cast<uint8_t>(type);
      ace.flags = static_cast<uint8_t>(flags);
      folder.dacl.push_back(ace);
    }
  }
  if (node.contains("files")) {
    const json& list = List(node, "files", where);
    for (size_t i = 0; i < list.size(); ++i) {
      folder.files.insert(Wide(list[i], Item(where, "files", i)));
    }
  }
}

}  // namespace

void LoadVendorLibraries(Machine& machine, const json& section, const std::string& where) {
  if (!section.is_object()) Bad(where, "expected an object");
  static const std::pair<const char*, VendorLibraryId> kNames[] = {
      {"qlmapia.dll", VendorLibraryId::kQlmapi},
      {"bmapia.dll", VendorLibraryId::kBmapi},
      {"bmapi.dll", VendorLibraryId::kBmapiLocal}};
  // Folders first: a library's folder described there keeps its own DACL.
  if (section.contains("folders")) {
    const json& list = List(section, "folders", where);
    for (size_t i = 0; i < list.size(); ++i)
      LoadFolder(machine, list[i], Item(where, "folders", i));
  }
  if (section.contains("system_path")) {
    machine.registry().SetString(kSystemEnvironmentKey, u"Path",
                                 Wide(section["system_path"], where + ".system_path"),
                                 platform::kRegExpandSz);
  }
  for (auto it = section.begin(); it != section.end(); ++it) {
    if (it.key() == "folders" || it.key() == "system_path") continue;
    const VendorLibraryId* id = nullptr;
    for (const auto& [name, libraryId] : kNames) {
      if (it.key() == name) id = &libraryId;
    }
    if (id == nullptr) Bad(Member(where, it.key()), "unknown library");
    LoadVendorLibrary(machine, machine.libraries().Library(*id), it.value(),
                      Member(where, it.key()));
  }
}

}  // namespace sim

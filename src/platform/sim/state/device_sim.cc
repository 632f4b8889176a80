#include "platform/sim/state/device_sim.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "common/text.h"
#include "platform/config_manager.h"
#include "platform/ndis.h"
#include "platform/sim/state/sim_bytes.h"
#include "platform/sim/state/sim_text.h"

namespace sim {

// --- records ---

OidAnswer OidAnswer::Bytes(std::vector<uint8_t> bytes) { return OidAnswer{std::move(bytes), 0}; }

OidAnswer OidAnswer::Dword(uint32_t value) {
  std::vector<uint8_t> bytes;
  PutDword(bytes, 0, value);
  return OidAnswer{std::move(bytes), 0};
}

OidAnswer OidAnswer::Fail(uint32_t error) { return OidAnswer{{}, error}; }

void DevNode::SetText(uint32_t property, std::u16string_view text) {
  properties[property] = DevProperty{platform::kRegSz, Utf16Bytes(text)};
}

void DevNode::SetMultiText(uint32_t property, const std::vector<std::u16string>& texts) {
  properties[property] = DevProperty{platform::kRegMultiSz, MultiTextBytes(texts)};
}

void DevNode::SetDword(uint32_t property, uint32_t value) {
  std::vector<uint8_t> bytes;
  PutDword(bytes, 0, value);
  properties[property] = DevProperty{platform::kRegDword, std::move(bytes)};
}

std::optional<std::u16string> DevNode::Text(uint32_t property) const {
  auto it = properties.find(property);
  if (it == properties.end()) return std::nullopt;
  const auto& data = it->second.data;
  std::u16string text(data.size() / 2, u'\0');
  if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * 2);
  text.resize(std::char_traits<char16_t>::length(text.c_str()));
  return text;
}

// --- indexes ---

template <typename T>
size_t SimDevices::NameIndex<T>::NoCaseHash::operator()(std::u16string_view name) const {
  size_t h = 14695981039346656037u;
  for (char16_t c : name) {
    h ^= crv::FoldCase(c);  // letters that SameNoCase takes as one hash alike
    h *= 1099511628211u;
  }
  return h;
}

template <typename T>
bool SimDevices::NameIndex<T>::NoCaseEqual::operator()(std::u16string_view a,
                                                       std::u16string_view b) const {
  return SameNoCase(a, b);
}

template <typename T>
void SimDevices::NameIndex<T>::File(T* record, uint64_t place,
                                    const std::vector<std::u16string_view>& names) {
  Remove(record);
  auto& filing = filed_[record];
  filing.first = place;
  for (std::u16string_view name : names) {
    auto it = byName_.find(name);
    if (it == byName_.end()) it = byName_.emplace(std::u16string(name), std::vector<Entry>{}).first;
    auto& entries = it->second;
    auto at = std::find_if(entries.begin(), entries.end(),
                           [&](const Entry& e) { return e.place > place; });
    entries.insert(at, Entry{place, record});
    filing.second.emplace_back(name);
  }
}

template <typename T>
void SimDevices::NameIndex<T>::Refile(T* record, const std::vector<std::u16string_view>& names) {
  auto it = filed_.find(record);
  if (it != filed_.end()) File(record, it->second.first, names);
}

template <typename T>
void SimDevices::NameIndex<T>::Remove(const T* record) {
  auto it = filed_.find(record);
  if (it == filed_.end()) return;
  for (const std::u16string& name : it->second.second) {
    auto entries = byName_.find(std::u16string_view(name));
    if (entries == byName_.end()) continue;
    std::erase_if(entries->second, [&](const Entry& e) { return e.record == record; });
    if (entries->second.empty()) byName_.erase(entries);
  }
  filed_.erase(it);
}

template <typename T>
auto SimDevices::NameIndex<T>::Candidates(std::u16string_view name) const
    -> const std::vector<Entry>& {
  static const std::vector<Entry> kNone;
  auto it = byName_.find(name);
  return it == byName_.end() ? kNone : it->second;
}

namespace {

std::vector<std::u16string_view> NamesOf(std::u16string_view name) { return {name}; }

// The first candidate that still has the name; candidates that lost it are filed again.
template <typename T, typename Index, typename Has, typename Refile>
T* FirstFiled(const Index& index, std::u16string_view name, Has has, Refile refile) {
  std::vector<T*> stale;
  T* found = nullptr;
  for (const auto& entry : index.Candidates(name)) {
    if (has(*entry.record)) {
      found = entry.record;
      break;
    }
    stale.push_back(entry.record);
  }
  for (T* record : stale) refile(record);
  return found;
}

}  // namespace

NdisDevice* SimDevices::Edited(NdisDevice* device) const {
  if (device != nullptr) editedNdis_.push_back(device);
  return device;
}

DevNode* SimDevices::Edited(DevNode* node) const {
  if (node != nullptr) editedNodes_.push_back(node);
  return node;
}

AdapterRecord* SimDevices::Edited(AdapterRecord* record) const {
  if (record != nullptr) editedAdapters_.push_back(record);
  return record;
}

void SimDevices::FileNdis(NdisDevice* device, uint64_t place) const {
  ndisByGuid_.File(device, place, NamesOf(device->guid));
  std::vector<std::u16string_view> privateName;
  if (device->privateDevice) privateName.push_back(device->privateDevice->name);
  ndisByPrivateName_.File(device, place, privateName);
}

void SimDevices::FileNode(DevNode* node, uint64_t place) const {
  nodesById_.File(node, place, NamesOf(node->instanceId));
  std::vector<std::u16string_view> paths(node->ndisLanInterfaces.begin(),
                                         node->ndisLanInterfaces.end());
  nodesByInterface_.File(node, place, paths);
}

void SimDevices::FileAdapter(AdapterRecord* record, uint64_t place) const {
  adaptersByGuid_.File(record, place, NamesOf(record->adapter.guid));
  adaptersByInstanceId_.File(record, place, NamesOf(record->instanceId));
  std::vector<std::u16string_view> parent;
  if (!record->parentId.empty()) parent.push_back(record->parentId);
  adaptersByParentId_.File(record, place, parent);
}

void SimDevices::RefileEdited() const {
  for (NdisDevice* d : editedNdis_) {
    ndisByGuid_.Refile(d, NamesOf(d->guid));
    std::vector<std::u16string_view> privateName;
    if (d->privateDevice) privateName.push_back(d->privateDevice->name);
    ndisByPrivateName_.Refile(d, privateName);
  }
  editedNdis_.clear();
  for (DevNode* n : editedNodes_) {
    nodesById_.Refile(n, NamesOf(n->instanceId));
    std::vector<std::u16string_view> paths(n->ndisLanInterfaces.begin(),
                                           n->ndisLanInterfaces.end());
    nodesByInterface_.Refile(n, paths);
  }
  editedNodes_.clear();
  for (AdapterRecord* r : editedAdapters_) {
    adaptersByGuid_.Refile(r, NamesOf(r->adapter.guid));
    adaptersByInstanceId_.Refile(r, NamesOf(r->instanceId));
    std::vector<std::u16string_view> parent;
    if (!r->parentId.empty()) parent.push_back(r->parentId);
    adaptersByParentId_.Refile(r, parent);
  }
  editedAdapters_.clear();
}

// --- devices ---

SimDevices::SimDevices() {
  auto root = std::make_unique<DevNode>();
  root->instanceId = u"HTREE\\ROOT\\0";
  root->devInst = nextDevInst_++;
  nodes_.push_back(std::move(root));
  FileNode(nodes_.back().get(), nextPlace_++);
}

NdisDevice& SimDevices::AddNdis(std::u16string guid) {
  RemoveNdis(guid);
  auto device = std::make_unique<NdisDevice>();
  device->guid = std::move(guid);
  ndis_.push_back(std::move(device));
  FileNdis(ndis_.back().get(), nextPlace_++);
  return *Edited(ndis_.back().get());
}

const NdisDevice* SimDevices::FindNdis(std::u16string_view guid) const {
  RefileEdited();
  return FirstFiled<NdisDevice>(
      ndisByGuid_, guid, [&](const NdisDevice& d) { return SameNoCase(d.guid, guid); },
      [&](NdisDevice* d) { ndisByGuid_.Refile(d, NamesOf(d->guid)); });
}

NdisDevice* SimDevices::FindNdis(std::u16string_view guid) {
  return Edited(const_cast<NdisDevice*>(std::as_const(*this).FindNdis(guid)));
}

const NdisDevice* SimDevices::FindNdisByInterfacePath(std::u16string_view path) const {
  RefileEdited();
  auto hasPath = [&](const DevNode& n) {
    return std::any_of(n.ndisLanInterfaces.begin(), n.ndisLanInterfaces.end(),
                       [&](const std::u16string& known) { return SameNoCase(known, path); });
  };
  bool reached = false;
  std::vector<DevNode*> stale;
  for (const auto& entry : nodesByInterface_.Candidates(path)) {
    if (!hasPath(*entry.record)) {
      stale.push_back(entry.record);
    } else if (entry.record->present) {
      reached = true;
      break;
    }
  }
  for (DevNode* n : stale) {
    std::vector<std::u16string_view> paths(n->ndisLanInterfaces.begin(),
                                           n->ndisLanInterfaces.end());
    nodesByInterface_.Refile(n, paths);
  }
  return reached ? FindNdis(path.substr(path.rfind(u'\\') + 1)) : nullptr;
}

NdisDevice* SimDevices::FindNdisByInterfacePath(std::u16string_view path) {
  return Edited(const_cast<NdisDevice*>(std::as_const(*this).FindNdisByInterfacePath(path)));
}

const NdisDevice* SimDevices::FindPrivateDeviceOwner(std::u16string_view name) const {
  RefileEdited();
  auto refile = [&](NdisDevice* d) {
    std::vector<std::u16string_view> privateName;
    if (d->privateDevice) privateName.push_back(d->privateDevice->name);
    ndisByPrivateName_.Refile(d, privateName);
  };
  return FirstFiled<NdisDevice>(
      ndisByPrivateName_, name,
      [&](const NdisDevice& d) {
        return d.privateDevice && SameNoCase(d.privateDevice->name, name);
      },
      refile);
}

bool SimDevices::RemoveNdis(std::u16string_view guid) {
  const NdisDevice* device = std::as_const(*this).FindNdis(guid);
  if (device == nullptr) return false;
  ndisByGuid_.Remove(device);
  ndisByPrivateName_.Remove(device);
  std::erase(editedNdis_, device);
  std::erase_if(ndis_, [&](const auto& d) { return d.get() == device; });
  return true;
}

DevNode& SimDevices::AddNode(DevNode node) {
  if (DevNode* existing = const_cast<DevNode*>(std::as_const(*this).FindNode(node.instanceId))) {
    node.devInst = existing->devInst;
    *existing = std::move(node);
    return *Edited(existing);
  }
  node.devInst = nextDevInst_++;
  nodes_.push_back(std::make_unique<DevNode>(std::move(node)));
  FileNode(nodes_.back().get(), nextPlace_++);
  return *Edited(nodes_.back().get());
}

const DevNode* SimDevices::FindNode(std::u16string_view instanceId) const {
  RefileEdited();
  return FirstFiled<DevNode>(
      nodesById_, instanceId,
      [&](const DevNode& n) { return SameNoCase(n.instanceId, instanceId); },
      [&](DevNode* n) { nodesById_.Refile(n, NamesOf(n->instanceId)); });
}

DevNode* SimDevices::FindNode(std::u16string_view instanceId) {
  return Edited(const_cast<DevNode*>(std::as_const(*this).FindNode(instanceId)));
}

std::vector<const DevNode*> SimDevices::NodesWithId(std::u16string_view instanceId) const {
  std::vector<const DevNode*> found;
  if (FindNode(instanceId) == nullptr) return found;  // files stale candidates again
  for (const auto& entry : nodesById_.Candidates(instanceId)) {
    if (SameNoCase(entry.record->instanceId, instanceId)) found.push_back(entry.record);
  }
  return found;
}

const DevNode* SimDevices::NodeByDevInst(uint32_t devInst) const {
  // DevInsts are handed out in list order from 1 and nodes are never taken out of the list.
  if (devInst >= 1 && devInst <= nodes_.size() && nodes_[devInst - 1]->devInst == devInst) {
    return nodes_[devInst - 1].get();
  }
  for (const auto& n : nodes_) {
    if (n->devInst == devInst) return n.get();
  }
  return nullptr;
}

DevNode* SimDevices::NodeByDevInst(uint32_t devInst) {
  return Edited(const_cast<DevNode*>(std::as_const(*this).NodeByDevInst(devInst)));
}

const AdapterRecord* SimDevices::FindAdapter(std::u16string_view guid) const {
  RefileEdited();
  return FirstFiled<AdapterRecord>(
      adaptersByGuid_, guid,
      [&](const AdapterRecord& r) { return SameNoCase(r.adapter.guid, guid); },
      [&](AdapterRecord* r) { adaptersByGuid_.Refile(r, NamesOf(r->adapter.guid)); });
}

AdapterRecord* SimDevices::FindAdapter(std::u16string_view guid) {
  return Edited(const_cast<AdapterRecord*>(std::as_const(*this).FindAdapter(guid)));
}

bool SimDevices::AdapterWithInstanceId(std::u16string_view instanceId) const {
  RefileEdited();
  return FirstFiled<AdapterRecord>(
             adaptersByInstanceId_, instanceId,
             [&](const AdapterRecord& r) { return SameNoCase(r.instanceId, instanceId); },
             [&](AdapterRecord* r) { adaptersByInstanceId_.Refile(r, NamesOf(r->instanceId)); }) !=
         nullptr;
}

bool SimDevices::OtherAdapterWithParent(std::u16string_view parentId,
                                        std::u16string_view guid) const {
  RefileEdited();
  auto refile = [&](AdapterRecord* r) {
    std::vector<std::u16string_view> parent;
    if (!r->parentId.empty()) parent.push_back(r->parentId);
    adaptersByParentId_.Refile(r, parent);
  };
  return FirstFiled<AdapterRecord>(
             adaptersByParentId_, parentId,
             [&](const AdapterRecord& r) {
               return !SameNoCase(r.adapter.guid, guid) && SameNoCase(r.parentId, parentId);
             },
             refile) != nullptr;
}

AdapterRecord& SimDevices::KeepAdapter(std::unique_ptr<AdapterRecord> record) {
  adapters_.push_back(std::move(record));
  FileAdapter(adapters_.back().get(), nextPlace_++);
  return *Edited(adapters_.back().get());
}

void SimDevices::DropAdapter(const AdapterRecord* record) {
  adaptersByGuid_.Remove(record);
  adaptersByInstanceId_.Remove(record);
  adaptersByParentId_.Remove(record);
  std::erase(editedAdapters_, record);
  std::erase_if(adapters_, [&](const auto& r) { return r.get() == record; });
}

uint64_t SimDevices::QueryCount(std::u16string_view guid, uint32_t oid) const {
  uint64_t n = 0;
  for (const auto& q : queries_) {
    if (q.controlCode == platform::kIoctlNdisQueryGlobalStats && q.oid == oid &&
        SameNoCase(q.device, guid)) {
      ++n;
    }
  }
  return n;
}

std::vector<std::function<void()>> SimDevices::TakeArrivals(ListRead list) {
  std::vector<std::function<void()>> taken;
  for (auto it = arrivals_.begin(); it != arrivals_.end();) {
    if (it->first == list) {
      taken.push_back(std::move(it->second));
      it = arrivals_.erase(it);
    } else {
      ++it;
    }
  }
  return taken;
}

}  // namespace sim

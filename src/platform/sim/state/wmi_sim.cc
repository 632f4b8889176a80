#include "platform/sim/state/wmi_sim.h"

#include <cstring>

#include "common/text.h"
#include "platform/sim/state/adapter_derive.h"
#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/sim_text.h"

namespace sim {
namespace {

using namespace platform;

std::u16string Lower(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = crv::FoldCase(c);
  return out;
}

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

void PutLittleEndian(uint8_t* out, int64_t value, uint32_t size) {
  for (uint32_t i = 0; i < size; ++i)
    out[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
}

}  // namespace

WmiValue WmiValue::Null() {
  WmiValue v;
  v.type = kVtNull;
  return v;
}

WmiValue WmiValue::Bool(bool value) {
  WmiValue v;
  v.type = kVtBool;
  v.integer = value ? 1 : 0;
  return v;
}

WmiValue WmiValue::Integer(uint16_t type, int64_t value) {
  WmiValue v;
  v.type = type;
  v.integer = value;
  return v;
}

WmiValue WmiValue::Text(std::u16string text) {
  WmiValue v;
  v.type = kVtBstr;
  v.text = std::move(text);
  return v;
}

WmiValue WmiValue::Array(uint16_t elementType, std::vector<int64_t> elements, int32_t lowerBound) {
  WmiValue v;
  v.type = static_cast<uint16_t>(kVtArray | elementType);
  v.elements = std::move(elements);
  v.lowerBound = lowerBound;
  return v;
}

WmiValue WmiValue::Bytes(const std::vector<uint8_t>& bytes, int32_t lowerBound) {
  return Array(kVtUi1, std::vector<int64_t>(bytes.begin(), bytes.end()), lowerBound);
}

uint32_t WmiElementSize(uint16_t elementType) {
  switch (elementType) {
    case kVtI1:
    case kVtUi1:
      return 1;
    case kVtI2:
    case kVtUi2:
    case kVtBool:
      return 2;
    case kVtI4:
    case kVtUi4:
      return 4;
    case kVtI8:
    case kVtUi8:
      return 8;
    default:
      return 0;
  }
}

SimWmi::SimWmi() {
  AddNamespace(u"root\\cimv2");
  AddNamespace(u"root\\default");
  AddNamespace(u"root\\wmi");
}

std::u16string SimWmi::NamespaceKey(std::u16string_view nameSpace) {
  std::u16string key = Lower(nameSpace);
  for (char16_t& c : key) {
    if (c == u'/') c = u'\\';
  }
  if (StartsWith(key, u"\\\\.\\")) return key.substr(4);
  if (StartsWith(key, u"\\\\localhost\\")) return key.substr(12);
  if (StartsWith(key, u"\\\\")) return std::u16string();
  return key;
}

void SimWmi::AddNamespace(std::u16string_view nameSpace) { namespaces_[NamespaceKey(nameSpace)]; }

bool SimWmi::HasNamespace(std::u16string_view nameSpace) const {
  std::u16string key = NamespaceKey(nameSpace);
  return !key.empty() && namespaces_.count(key) != 0 && hidden_.count(key) == 0;
}

void SimWmi::SetNamespaceHidden(std::u16string_view nameSpace, bool hidden) {
  std::u16string key = NamespaceKey(nameSpace);
  if (hidden) {
    hidden_.insert(key);
  } else {
    hidden_.erase(key);
  }
}

WmiClass& SimWmi::Class(std::u16string_view nameSpace, std::u16string_view className) {
  return namespaces_[NamespaceKey(nameSpace)][std::u16string(className)];
}

WmiObject& SimWmi::AddObject(std::u16string_view nameSpace, std::u16string_view className) {
  WmiClass& c = Class(nameSpace, className);
  c.objects.push_back(WmiObject{std::u16string(className), {}});
  return c.objects.back();
}

WmiClass* SimWmi::FindClass(std::u16string_view nameSpace, std::u16string_view className) {
  auto ns = namespaces_.find(NamespaceKey(nameSpace));
  if (ns == namespaces_.end()) return nullptr;
  auto c = ns->second.find(std::u16string(className));
  return c == ns->second.end() ? nullptr : &c->second;
}

size_t SimWmi::CountCalls(std::string_view prefix) const {
  size_t n = 0;
  for (const auto& line : calls_) {
    if (line.compare(0, prefix.size(), prefix) == 0) ++n;
  }
  return n;
}

int64_t SimWmi::ArrayLocks() const {
  int64_t locks = 0;
  for (const auto& [handle, array] : arrays_) locks += array->locks;
  return locks;
}

int64_t SimWmi::OutstandingComInits() const {
  int64_t n = 0;
  for (const auto& [id, state] : threads_) n += state.count;
  return n;
}

std::string SimWmi::Held() const {
  std::string held;
  auto add = [&held](int64_t n, const char* what) {
    if (n == 0) return;
    if (!held.empty()) held += ", ";
    held += std::to_string(n) + " " + what;
  };
  add(OutstandingReferences(), "COM references");
  add(UnclearedVariants(), "uncleared variants");
  add(ArrayLocks(), "array locks");
  add(InvalidHandleUses(), "uses of stale handles");
  add(OutstandingComInits(), "COM initialisations");
  add(UnbalancedUninits(), "unbalanced uninitialisations");
  return held;
}

void SimWmi::ResetProcess() {
  threads_.clear();
  securitySet_ = false;
}

uintptr_t SimWmi::NewObject(ComRecord record) {
  uintptr_t handle = nextHandle_;
  nextHandle_ += 0x10;
  objects_[handle] = std::make_unique<ComRecord>(std::move(record));
  return handle;
}

ComRecord* SimWmi::FindObject(uintptr_t handle) {
  auto it = objects_.find(handle);
  return it == objects_.end() ? nullptr : it->second.get();
}

bool SimWmi::ReleaseObject(uintptr_t handle) { return objects_.erase(handle) != 0; }

uintptr_t SimWmi::NewVariant(const WmiValue& value, Variant* out) {
  auto record = std::make_unique<VariantRecord>();
  uintptr_t handle = nextHandle_;
  nextHandle_ += 0x10;
  *out = Variant{};
  out->type = value.type;
  if (value.type == kVtBool) {
    out->integer = value.integer != 0 ? -1 : 0;
  } else {
    out->integer = value.integer;
  }
  if (value.type == kVtBstr) {
    record->text = value.text;
    out->text = record->text.c_str();
    out->textLength = static_cast<uint32_t>(record->text.size());
  }
  if ((value.type & kVtArray) != 0) {
    auto array = std::make_unique<SafeArrayRecord>();
    array->elementType = static_cast<uint16_t>(value.type & ~kVtArray);
    array->lowerBound = value.lowerBound;
    array->count = static_cast<uint32_t>(value.elements.size());
    uint32_t size = WmiElementSize(array->elementType);
    array->bytes.resize(static_cast<size_t>(size) * array->count);
    for (size_t i = 0; i < value.elements.size(); ++i) {
      int64_t element = value.elements[i];
      if (array->elementType == kVtBool) element = element != 0 ? -1 : 0;
      PutLittleEndian(array->bytes.data() + i * size, element, size);
    }
    uintptr_t arrayHandle = nextHandle_;
    nextHandle_ += 0x10;
    arrays_[arrayHandle] = std::move(array);
    record->array = arrayHandle;
    out->array = reinterpret_cast<SafeArray>(arrayHandle);
  }
  out->native = reinterpret_cast<void*>(handle);
  variants_[handle] = std::move(record);
  return handle;
}

VariantRecord* SimWmi::FindVariant(uintptr_t handle) {
  auto it = variants_.find(handle);
  return it == variants_.end() ? nullptr : it->second.get();
}

bool SimWmi::ClearVariant(uintptr_t handle) {
  auto it = variants_.find(handle);
  if (it == variants_.end()) return false;
  if (it->second->array != 0) arrays_.erase(it->second->array);
  variants_.erase(it);
  return true;
}

SafeArrayRecord* SimWmi::FindArray(uintptr_t handle) {
  auto it = arrays_.find(handle);
  return it == arrays_.end() ? nullptr : it->second.get();
}

WmiObject& AddEfxPort(SimWmi& wmi, const EfxPort& port) {
  WmiObject& object = wmi.AddObject(u"root\\wmi", u"EFX_Port");
  object.Set(u"externalport", WmiValue::Integer(kVtI4, port.external ? 1 : 0));
  object.Set(u"currentmacaddress", WmiValue::Bytes(port.mac));
  object.Set(u"mcfwversion", WmiValue::Text(port.firmwareVersion));
  return object;
}

namespace {

const char16_t kStandardCimv2[] = u"root\\StandardCimv2";

void AddNetAdapter(SimWmi& wmi, const std::u16string& name, const std::u16string& guid) {
  if (guid.empty()) return;
  WmiObject& adapter = wmi.AddObject(kStandardCimv2, u"MSFT_NetAdapter");
  adapter.Set(u"Name", WmiValue::Text(name));
  adapter.Set(u"InterfaceGuid", WmiValue::Text(guid));
}

}  // namespace

bool IsNetAdapterClass(std::u16string_view nameSpace, std::u16string_view className) {
  return SimWmi::NamespaceKey(nameSpace) == SimWmi::NamespaceKey(kStandardCimv2) &&
         SameNoCase(className, u"MSFT_NetAdapter");
}

std::vector<WmiObject> NetAdapterObjects(const WmiClass& stored, const SimDevices& devices) {
  auto text = [](const WmiObject& o, const char16_t* name) -> std::u16string_view {
    auto property = o.properties.find(name);
    return property == o.properties.end() ? std::u16string_view() : property->second.text;
  };
  std::vector<WmiObject> objects;
  std::vector<bool> listed(stored.objects.size());
  for (const auto& record : devices.adapters()) {
    const SimAdapter& a = record->adapter;
    const std::u16string name = ConnectionName(a);
    WmiObject object{u"MSFT_NetAdapter", {}};
    object.Set(u"Name", WmiValue::Text(name));
    object.Set(u"InterfaceGuid", WmiValue::Text(a.guid));
    bool nameTaken = false;  // names are unique: a team's object keeps its name
    for (size_t i = 0; i < stored.objects.size(); ++i) {
      if (!listed[i] && SameNoCase(text(stored.objects[i], u"InterfaceGuid"), a.guid)) {
        object = stored.objects[i];
        listed[i] = true;
        nameTaken = false;
        break;
      }
      nameTaken = nameTaken || SameNoCase(text(stored.objects[i], u"Name"), name);
    }
    if (!nameTaken) objects.push_back(std::move(object));
  }
  for (size_t i = 0; i < stored.objects.size(); ++i) {
    if (!listed[i]) objects.push_back(stored.objects[i]);
  }
  return objects;
}

void AddLbfoTeam(SimWmi& wmi, const LbfoTeam& team) {
  wmi.SetAvailable(true);
  // Every class exists once the namespace has a team, even when empty.
  for (const char16_t* name : {u"MSFT_NetAdapter", u"MSFT_NetLbfoTeam", u"MSFT_NetLbfoTeamMember",
                               u"MSFT_NetLbfoTeamNic"}) {
    wmi.Class(kStandardCimv2, name);
  }
  bool known = false;
  for (const WmiObject& o : wmi.FindClass(kStandardCimv2, u"MSFT_NetLbfoTeam")->objects) {
    auto named = o.properties.find(u"Name");
    known = known || (named != o.properties.end() && SameNoCase(named->second.text, team.name));
  }
  if (!known) {
    WmiObject& t = wmi.AddObject(kStandardCimv2, u"MSFT_NetLbfoTeam");
    t.Set(u"Name", WmiValue::Text(team.name));
    t.Set(u"TeamingMode", WmiValue::Integer(kVtI4, team.teamingMode));
    t.Set(u"LoadBalancingAlgorithm", WmiValue::Integer(kVtI4, team.loadBalancing));
    t.Set(u"Status", WmiValue::Integer(kVtI4, team.status));
  }
  for (const LbfoMember& member : team.members) {
    WmiObject& m = wmi.AddObject(kStandardCimv2, u"MSFT_NetLbfoTeamMember");
    m.Set(u"Name", WmiValue::Text(member.name));
    m.Set(u"Team", WmiValue::Text(team.name));
    m.Set(u"AdministrativeMode", WmiValue::Integer(kVtI4, member.administrativeMode));
    m.Set(u"OperationalStatus", WmiValue::Integer(kVtI4, member.operationalStatus));
    AddNetAdapter(wmi, member.name, member.guid);
  }
  for (const LbfoTeamNic& nic : team.teamNics) {
    WmiObject& n = wmi.AddObject(kStandardCimv2, u"MSFT_NetLbfoTeamNic");
    n.Set(u"Name", WmiValue::Text(nic.name));
    n.Set(u"Team", WmiValue::Text(team.name));
    n.Set(u"VlanID", WmiValue::Integer(kVtI4, nic.vlanId));
    n.Set(u"Default", WmiValue::Bool(nic.isDefault));
    n.Set(u"Primary", WmiValue::Bool(nic.isDefault));
    AddNetAdapter(wmi, nic.name, nic.guid);
  }
}

bool RemoveLbfoTeamNic(SimWmi& wmi, const std::u16string& name) {
  bool removed = false;
  for (const char16_t* className : {u"MSFT_NetLbfoTeamNic", u"MSFT_NetAdapter"}) {
    WmiClass* c = wmi.FindClass(kStandardCimv2, className);
    if (c == nullptr) continue;
    for (auto it = c->objects.begin(); it != c->objects.end();) {
      auto named = it->properties.find(u"Name");
      if (named != it->properties.end() && SameNoCase(named->second.text, name)) {
        it = c->objects.erase(it);
        removed = true;
      } else {
        ++it;
      }
    }
  }
  return removed;
}

SimAdapter LbfoTeamNicAdapter(const LbfoTeamNic& nic, const std::vector<uint8_t>& mac,
                              uint32_t ifIndex) {
  SimAdapter a;
  a.guid = nic.guid;
  a.mac = mac;
  a.ifIndex = ifIndex;
  a.kind = AdapterKind::kOther;
  a.instanceId = u"COMPOSITEBUS\\MS_IMPLAT_MP\\" + nic.guid;
  a.description = u"Microsoft Network Adapter Multiplexor Driver";
  a.service = u"NdisImPlatformMp";
  a.connectionName = nic.name;
  return a;
}

}  // namespace sim

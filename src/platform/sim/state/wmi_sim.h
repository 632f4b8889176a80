// The simulated machine's COM runtime and WMI service: namespaces, their objects by class,
// and the typed properties the agent reads; and a record of everything the agent holds
// (objects, variants, accessed arrays, COM initialisations) so that tests can check that
// nothing leaks.
//
// Names of namespaces, classes and properties are compared without regard to case, and a
// namespace may be named with or without the local machine ("\\.\root\wmi" is "ROOT\WMI").
// A fresh machine has the namespaces root\cimv2, root\default and root\wmi, all empty, and
// no WMI at all (available() false) until a scenario or test switches it on.
//
// COM rules as the simulation keeps them:
// - CoInitializeEx counts per thread: S_OK the first time, S_FALSE again with the same
//   model, RPC_E_CHANGED_MODE with another; each success needs a CoUninitialize.
// - CoCreateInstance and CoInitializeSecurity need COM on the calling thread
//   (CO_E_NOTINITIALIZED otherwise).
// - Process security is set once: by the first CoInitializeSecurity, or, when nobody called
//   it, with COM's defaults by the first ConnectServer (the first proxy to the WMI service).
//   Every CoInitializeSecurity after that answers RPC_E_TOO_LATE. The state lasts for the
//   machine's process; ResetProcess starts a new one.
// - IEnumWbemClassObject::Next hands each object over after the class's delivery delay
//   (0 by default); a shorter time-out answers WBEM_S_TIMEDOUT after waiting it, and the
//   object keeps the rest of its delay for the next call.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com_wmi.h"
#include "platform/sim/state/registry_sim.h"

namespace sim {

// One typed value as WMI hands it over in a VARIANT.
struct WmiValue {
  uint16_t type = platform::kVtEmpty;  // VARTYPE; arrays: kVtArray | element type
  int64_t integer = 0;                 // integer kinds; VT_BOOL 0 or 1 (handed out as 0 / -1)
  std::u16string text;                 // VT_BSTR
  std::vector<int64_t> elements;       // arrays of integer kinds
  int32_t lowerBound = 0;              // arrays

  static WmiValue Empty() { return WmiValue{}; }
  static WmiValue Null();
  static WmiValue Bool(bool value);
  // An integer kind: kVtI1, kVtUi1, kVtI2, kVtUi2, kVtI4, kVtUi4, kVtI8 or kVtUi8.
  static WmiValue Integer(uint16_t type, int64_t value);
  static WmiValue Text(std::u16string text);
  static WmiValue Array(uint16_t elementType, std::vector<int64_t> elements,
                        int32_t lowerBound = 0);
  static WmiValue Bytes(const std::vector<uint8_t>& bytes, int32_t lowerBound = 0);
};

// Bytes one element of an integer kind takes in a SAFEARRAY (VT_BOOL: 2); 0 for other kinds.
uint32_t WmiElementSize(uint16_t elementType);

struct WmiObject {
  std::u16string className;
  std::map<std::u16string, WmiValue, NoCaseLess> properties;

  WmiObject& Set(const std::u16string& name, WmiValue value) {
    properties[name] = std::move(value);
    return *this;
  }
};

struct WmiClass {
  std::vector<WmiObject> objects;
  uint32_t deliveryDelayMs = 0;  // time Next takes to hand over each object
};

// What the agent holds: an interface pointer, a variant's data, a SAFEARRAY. Records are found
// by handle; handles are never reused, so a stale one is known as such.
struct ComRecord {
  enum class Kind { kLocator, kServices, kEnumerator, kObject };
  Kind kind = Kind::kLocator;
  std::u16string nameSpace;        // services
  std::vector<WmiObject> objects;  // enumerator: what it still has to hand over
  size_t next = 0;                 // enumerator: the next object
  uint32_t waitedMs = 0;           // enumerator: time already waited for the next object
  uint32_t deliveryDelayMs = 0;    // enumerator
  WmiObject object;                // object
};
struct SafeArrayRecord {
  uint16_t elementType = 0;
  int32_t lowerBound = 0;
  uint32_t count = 0;
  std::vector<uint8_t> bytes;  // the elements, packed
  uint32_t locks = 0;          // SafeArrayAccessData calls not yet undone
};
struct VariantRecord {
  std::u16string text;
  uintptr_t array = 0;  // handle of the variant's SAFEARRAY, 0 for none
};

class SimWmi {
 public:
  SimWmi();

  // False: the WMI locator class is not registered (CoCreateInstance answers
  // REGDB_E_CLASSNOTREG), as on a machine whose WMI service is missing.
  bool available() const { return available_; }
  void SetAvailable(bool available) { available_ = available; }

  // --- the repository, for scenarios and tests ---
  void AddNamespace(std::u16string_view nameSpace);
  // A class of the namespace (created with the namespace when missing), with no instances
  // until objects are added.
  WmiClass& Class(std::u16string_view nameSpace, std::u16string_view className);
  WmiObject& AddObject(std::u16string_view nameSpace, std::u16string_view className);
  // Null when the namespace or class does not exist.
  WmiClass* FindClass(std::u16string_view nameSpace, std::u16string_view className);
  bool HasNamespace(std::u16string_view nameSpace) const;
  // A namespace whose provider is not loaded yet, as at boot: ConnectServer answers
  // WBEM_E_INVALID_NAMESPACE while it is hidden; its classes and objects are kept.
  void SetNamespaceHidden(std::u16string_view nameSpace, bool hidden);

  // --- what the agent did and holds ---
  // Every call through the interface, one line each ("ConnectServer \\.\root\wmi",
  // "CoSetProxyBlanket services authn=0xFFFFFFFF authz=0 level=3 imp=3 caps=0", ...).
  const std::vector<std::string>& Calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }
  size_t CountCalls(std::string_view prefix) const;
  // Interface pointers handed out and not released.
  int64_t OutstandingReferences() const { return static_cast<int64_t>(objects_.size()); }
  // Variants filled by Get and not cleared.
  int64_t UnclearedVariants() const { return static_cast<int64_t>(variants_.size()); }
  // SafeArrayAccessData calls without their SafeArrayUnaccessData.
  int64_t ArrayLocks() const;
  // Releases, clears and array calls with a handle that is not (or no longer) live.
  int64_t InvalidHandleUses() const { return invalidHandleUses_; }
  // CoInitializeEx successes not yet undone, over all threads; CoUninitialize calls on a
  // thread without COM.
  int64_t OutstandingComInits() const;
  int64_t UnbalancedUninits() const { return unbalancedUninits_; }
  bool SecuritySet() const { return securitySet_; }
  // Empty when nothing above is outstanding or wrong; else what is ("2 COM references, 1
  // uncleared variant"), for test messages.
  std::string Held() const;
  // A new process: no thread has COM and process security is not set.
  void ResetProcess();

  // --- used by the interface implementation ---
  void NoteCall(std::string line) { calls_.push_back(std::move(line)); }
  uintptr_t NewObject(ComRecord record);
  ComRecord* FindObject(uintptr_t handle);
  bool ReleaseObject(uintptr_t handle);
  uintptr_t NewVariant(const WmiValue& value, platform::Variant* out);
  VariantRecord* FindVariant(uintptr_t handle);
  bool ClearVariant(uintptr_t handle);
  SafeArrayRecord* FindArray(uintptr_t handle);
  void NoteInvalidHandle() { ++invalidHandleUses_; }
  // COM on a thread: the initialisation count and model.
  struct ThreadCom {
    uint32_t count = 0;
    uint32_t model = 0;
  };
  ThreadCom& ThreadState(uint32_t threadId) { return threads_[threadId]; }
  void NoteUnbalancedUninit() { ++unbalancedUninits_; }
  void SetSecurity() { securitySet_ = true; }
  // The namespace's canonical key (lower case, without the local machine), or empty when
  // the name points at another machine.
  static std::u16string NamespaceKey(std::u16string_view nameSpace);

 private:
  bool available_ = false;
  std::set<std::u16string> hidden_;  // namespace keys
  std::map<std::u16string, std::map<std::u16string, WmiClass, NoCaseLess>> namespaces_;
  std::vector<std::string> calls_;
  uintptr_t nextHandle_ = 0x10000;
  std::map<uintptr_t, std::unique_ptr<ComRecord>> objects_;
  std::map<uintptr_t, std::unique_ptr<VariantRecord>> variants_;
  std::map<uintptr_t, std::unique_ptr<SafeArrayRecord>> arrays_;
  std::map<uint32_t, ThreadCom> threads_;
  int64_t invalidHandleUses_ = 0;
  int64_t unbalancedUninits_ = 0;
  bool securitySet_ = false;
};

// A Solarflare port as its driver's WMI provider shows it: an "EFX_Port" object in root\wmi
// with "externalport" (VT_I4), "currentmacaddress" (VT_ARRAY | VT_UI1 from 0) and
// "mcfwversion" (VT_BSTR).
struct EfxPort {
  std::vector<uint8_t> mac;
  bool external = true;
  std::u16string firmwareVersion;
};
WmiObject& AddEfxPort(SimWmi& wmi, const EfxPort& port);

// A team of Windows NIC Teaming as root\StandardCimv2 shows it: one MSFT_NetLbfoTeam object
// (Name, TeamingMode, LoadBalancingAlgorithm, Status as VT_I4), one MSFT_NetLbfoTeamMember
// per member (Name, Team, AdministrativeMode, OperationalStatus), one MSFT_NetLbfoTeamNic per
// team interface (Name, Team, VlanID as VT_I4, Default and Primary as VT_BOOL), and an
// MSFT_NetAdapter object (Name, InterfaceGuid) for every member and team interface with a
// GUID (an empty GUID: no such object, an adapter Windows does not know). A team of a name
// already there keeps its object and gains the members and interfaces. Switches WMI on.
struct LbfoMember {
  std::u16string name;              // the adapter's name ("Ethernet 1")
  std::u16string guid;              // its interface GUID in braces
  uint32_t administrativeMode = 0;  // 0 active, 1 standby
  uint32_t operationalStatus = 0;   // 0 active, 1 standby, 2 failed
};
struct LbfoTeamNic {
  std::u16string name;  // "Team1", "Team1 - VLAN 10"
  std::u16string guid;
  uint32_t vlanId = 0;
  bool isDefault = false;
};
struct LbfoTeam {
  std::u16string name;
  uint32_t teamingMode = 1;    // 0 static, 1 switch independent, 2 LACP
  uint32_t loadBalancing = 5;  // 0 transport ports ... 4 Hyper-V port, 5 dynamic
  uint32_t status = 0;         // 0 up, 1 down, 2 degraded
  std::vector<LbfoMember> members;
  std::vector<LbfoTeamNic> teamNics;
};
void AddLbfoTeam(SimWmi& wmi, const LbfoTeam& team);
// Takes a team interface out of MSFT_NetLbfoTeamNic (and its MSFT_NetAdapter object), as
// when it is removed; false when there is none of that name.
bool RemoveLbfoTeamNic(SimWmi& wmi, const std::u16string& name);
// MSFT_NetAdapter as Windows lists it: every adapter present on the machine, in device order,
// by its connection name (a team member by the name its team gives it), then the objects the
// teams name for adapters that are not present. Names are unique: an adapter whose name a
// team's object holds for another GUID is not listed. The class holds only what the teams added;
// the rest is taken from the device store at each enumeration, as the provider does.
class SimDevices;
std::vector<WmiObject> NetAdapterObjects(const WmiClass& stored, const SimDevices& devices);
bool IsNetAdapterClass(std::u16string_view nameSpace, std::u16string_view className);
// A team interface's adapter: the multiplexor driver's device (COMPOSITEBUS\MS_IMPLAT_MP)
// with the team's MAC address.
struct SimAdapter;
SimAdapter LbfoTeamNicAdapter(const LbfoTeamNic& nic, const std::vector<uint8_t>& mac,
                              uint32_t ifIndex);

}  // namespace sim

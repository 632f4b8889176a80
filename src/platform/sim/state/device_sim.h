// The simulated machine's device store: NDIS miniports answering OID queries through device
// I/O, their driver-private query devices, the PnP device tree that the configuration manager
// shows (instance IDs, setup classes, properties, parents, NDIS LAN device interfaces, driver
// and hardware keys), and the adapters described once (sim_adapter.h) that adapter_builder.h
// derived those records from.
//
// The records (NdisDevice, PrivateQueryDevice, DevNode) are exactly what each call answers.
// Tests set them directly for odd cases, or edit them after AddAdapter's derivation.
//
// Names (GUIDs, device names, instance IDs, setup class GUIDs) are compared without regard to
// case, as Windows compares them.
//
// The lists keep the order the machine enumerates them in; lookups by name (a device by GUID,
// interface path or private device name, a node by instance ID or DevInst, an adapter by GUID)
// go through indexes beside them, so that a lookup costs the same on a server of thousands of
// ports as on a small one. Records handed out for editing (by AddNdis, AddNode, AddAdapter,
// Root and the non-const Find* calls) are filed again under their current names at the next
// lookup. A name changed through the lists themselves or through a reference kept across
// later lookups is found once that record is handed out again.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/sim/state/net_class_keys.h"
#include "platform/sim/state/registry_sim.h"
#include "platform/sim/state/sim_adapter.h"

namespace sim {

class Machine;

// --- NDIS OIDs and codes the simulated drivers answer ---
constexpr uint32_t kOidGenMediaInUse = 0x00010104;
constexpr uint32_t kOidGenLinkSpeed = 0x00010107;           // ULONG, units of 100 bit/s
constexpr uint32_t kOidGenMediaConnectStatus = 0x00010114;  // 0 connected, 1 disconnected
constexpr uint32_t kOidGenLinkState = 0x00010207;           // NDIS_LINK_STATE (40 bytes)
constexpr uint32_t kOidGenMediaDuplexState = 0x0001028C;    // 0 unknown, 1 half, 2 full
constexpr uint32_t kOid8023PermanentAddress = 0x01010101;
constexpr uint32_t kOid8023CurrentAddress = 0x01010102;
// Driver-private OIDs.
constexpr uint32_t kOidPrivateQueryDeviceName = 0xFF0201A9;  // UTF-16 name, terminated
constexpr uint32_t kOidPrivateDuplex = 0xFF0201EA;           // on the private device: 8 bytes
constexpr uint32_t kOidPrivateAdapterInfo = 0xFF0201D3;      // 72 bytes, also asked directly
constexpr uint32_t kOidPrivateCountersA = 0xFF020306;        // 128 bytes, link at byte 16
constexpr uint32_t kOidPrivateCountersB = 0xFF020319;        // 48 bytes, duplex at byte 12
constexpr uint32_t kOidVendorDuplex = 0xFF01010D;            // 8 bytes
constexpr uint32_t kOidNetXenFirmware = 0xFF01011E;          // three 32-bit words
constexpr uint32_t kOidEmulexFirmware = 0xFF020295;          // 256 bytes of text
constexpr uint32_t kOidMellanoxFirmware = 0xFFA0C915;        // one 64-bit word
// The private query device's control code: one buffer in and out,
// {u32 OID, u32 status, u32 reserved, data...}.
constexpr uint32_t kIoctlPrivateQuery = 0x00172800;
constexpr uint32_t kPrivateRequestHeader = 12;

// NDIS_STATUS_NOT_SUPPORTED, the status a private device writes for an OID it does not know.
constexpr uint32_t kNdisStatusNotSupported = 0xC00000BB;

// Win32 errors the simulated devices answer with.
constexpr uint32_t kErrorInvalidFunction = 1;   // a control code the device does not serve
constexpr uint32_t kErrorDeviceRemoved = 1617;  // a handle whose device was removed

// Setup class GUID of network adapters, as the PnP manager writes it (lower case).
inline constexpr char16_t kNetClassGuidText[] = u"{4d36e972-e325-11ce-bfc1-08002be10318}";
// Setup class of system devices (bus drivers' PCI functions).
inline constexpr char16_t kSystemClassGuidText[] = u"{4d36e97d-e325-11ce-bfc1-08002be10318}";
// GUID_NDIS_LAN_CLASS as device interface paths carry it.
inline constexpr char16_t kNdisLanClassGuidText[] = u"{ad498944-762f-11d0-8dcb-00c04fc3358c}";
// Registry paths (under HKEY_LOCAL_MACHINE).
inline constexpr char16_t kNetClassKeyPath[] =
    u"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
inline constexpr char16_t kNetworkControlKeyPath[] =
    u"SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
inline constexpr char16_t kEnumKeyPath[] = u"SYSTEM\\CurrentControlSet\\Enum";
inline constexpr char16_t kTcpipInterfacesKeyPath[] =
    u"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces";

// ----------------------------------------------------------------------------------------
// Records

// One answer of a device to one OID: the bytes it writes, or the Win32 error the control call
// fails with. Bytes longer than the caller's output buffer fail the call with
// ERROR_INSUFFICIENT_BUFFER (122) and nothing written, as NDIS does for a short buffer.
struct OidAnswer {
  std::vector<uint8_t> data;
  uint32_t error = 0;
  // Non-zero: the driver takes the request only when the caller's output buffer starts with
  // this word, and fails it with ERROR_INVALID_PARAMETER otherwise.
  uint32_t signature = 0;

  static OidAnswer Bytes(std::vector<uint8_t> bytes);
  static OidAnswer Dword(uint32_t value);
  static OidAnswer Fail(uint32_t error);
};

// One answer of the private query device: the request's data part and status, or the Win32
// error the control call fails with. Data longer than the request's data part is cut to it.
struct PrivateAnswer {
  std::vector<uint8_t> data;
  uint32_t status = 0;
  uint32_t error = 0;
};

// The driver-private query device. Opened as "\\.\" + name; requests under kIoctlPrivateQuery.
struct PrivateQueryDevice {
  std::u16string name;     // without "\\.\"; the miniport answers kOidPrivateQueryDeviceName
  uint32_t openError = 0;  // non-zero: CreateFileW of the device fails with it
  std::map<uint32_t, PrivateAnswer> answers;
  // The status written for an OID without an answer (the call itself succeeds).
  uint32_t unknownOidStatus = kNdisStatusNotSupported;
};

// An NDIS miniport's device, opened as "\\.\{GUID}" and asked with
// IOCTL_NDIS_QUERY_GLOBAL_STATS (input: the 4-byte OID).
struct NdisDevice {
  std::u16string guid;     // "{...}", in braces
  uint32_t openError = 0;  // non-zero: CreateFileW fails with it (the device cannot be opened)
  std::map<uint32_t, OidAnswer> oids;
  // The error for an OID without an answer (ERROR_NOT_SUPPORTED, as NDIS maps an unsupported
  // OID).
  uint32_t unknownOidError = 50;
  // When set, the miniport answers kOidPrivateQueryDeviceName with the device's name (unless
  // oids holds an answer of its own for that OID) and the name opens it.
  std::optional<PrivateQueryDevice> privateDevice;
};

// A value of a device registry property (CM_DRP_*): REG_SZ, REG_MULTI_SZ or REG_DWORD bytes.
struct DevProperty {
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

// One node of the PnP device tree.
struct DevNode {
  std::u16string instanceId;  // "PCI\VEN_8086&DEV_10D3&SUBSYS_...&REV_00\4&...&0&00E0"
  std::u16string classGuid;   // setup class GUID text in braces
  bool present = true;        // a node that is not present is only listed without the filter
  std::u16string parentId;    // instance ID of the parent; empty: a child of the root
  std::map<uint32_t, DevProperty> properties;  // by CM_DRP_* number
  // Paths of the node's present GUID_NDIS_LAN_CLASS device interfaces, in list order.
  std::vector<std::u16string> ndisLanInterfaces;
  // Registry paths under HKEY_LOCAL_MACHINE that CM_Open_DevNode_Key opens; empty: none.
  std::u16string driverKey;    // CM_REGISTRY_SOFTWARE: the class key's "NNNN" subkey
  std::u16string hardwareKey;  // CM_REGISTRY_HARDWARE: Enum\<instance>\Device Parameters
  uint32_t devInst = 0;        // assigned by SimDevices::AddNode

  void SetText(uint32_t property, std::u16string_view text);
  void SetMultiText(uint32_t property, const std::vector<std::u16string>& texts);
  void SetDword(uint32_t property, uint32_t value);
  void ClearProperty(uint32_t property) { properties.erase(property); }
  // The text of a REG_SZ property, or the first text of a REG_MULTI_SZ one.
  std::optional<std::u16string> Text(uint32_t property) const;
};

// One CreateFileW of a simulated device and one control call, as the device saw them.
struct DeviceOpenRecord {
  std::u16string name;
  uint32_t access = 0, share = 0, disposition = 0, flags = 0;
};
struct DeviceQueryRecord {
  std::u16string device;  // the name it was opened with, without "\\.\"
  uint32_t controlCode = 0;
  uint32_t oid = 0;  // the first 4 input bytes (0 when fewer)
  uint32_t inputSize = 0, outputSize = 0;
};

class SimDevices {
 public:
  SimDevices();

  // --- NDIS devices ---
  // Adds (or replaces) the device of a GUID.
  NdisDevice& AddNdis(std::u16string guid);
  const NdisDevice* FindNdis(std::u16string_view guid) const;
  NdisDevice* FindNdis(std::u16string_view guid);
  // The device a present node's NDIS LAN interface path leads to: the one named by the GUID
  // that ends the path.
  const NdisDevice* FindNdisByInterfacePath(std::u16string_view path) const;
  NdisDevice* FindNdisByInterfacePath(std::u16string_view path);
  // The first device whose driver-private query device has this name.
  const NdisDevice* FindPrivateDeviceOwner(std::u16string_view name) const;
  bool RemoveNdis(std::u16string_view guid);
  const std::vector<std::unique_ptr<NdisDevice>>& ndisDevices() const { return ndis_; }

  // --- PnP tree ---
  // Adds a node, or replaces the node of the same instance ID (keeping its DevInst).
  DevNode& AddNode(DevNode node);
  const DevNode* FindNode(std::u16string_view instanceId) const;
  DevNode* FindNode(std::u16string_view instanceId);
  // Every node of an instance ID, in list order (one, unless a test gave two the same ID).
  std::vector<const DevNode*> NodesWithId(std::u16string_view instanceId) const;
  const DevNode* NodeByDevInst(uint32_t devInst) const;
  DevNode* NodeByDevInst(uint32_t devInst);
  // The root node ("HTREE\ROOT\0"), the parent of nodes without one.
  const DevNode& Root() const { return *nodes_.front(); }
  DevNode& Root() { return *Edited(nodes_.front().get()); }
  // Every node, the root first, then in the order added (the device list order).
  const std::vector<std::unique_ptr<DevNode>>& nodes() const { return nodes_; }

  // --- high-level adapters (see AddAdapter) ---
  const AdapterRecord* FindAdapter(std::u16string_view guid) const;
  AdapterRecord* FindAdapter(std::u16string_view guid);
  const std::vector<std::unique_ptr<AdapterRecord>>& adapters() const { return adapters_; }

  // The filters bound to every adapter that names none of its own, and whether their rows
  // are listed before the adapter's (Windows lists them around it, in no promised order).
  void SetDefaultFilters(std::vector<std::u16string> names, bool first) {
    defaultFilters_ = std::move(names);
    defaultFiltersFirst_ = first;
  }

  // --- devices that arrive while a list is read ---
  // A device that arrives between the agent's size call and its read of a list: the action
  // runs at the next read of that kind of list, after the size was given, so the read finds
  // the list longer than sized (CR_BUFFER_SMALL), as a hot-add during the read does.
  enum class ListRead { kDeviceIds, kDeviceInterfaces };
  void ArriveDuringListRead(ListRead list, std::function<void()> arrival) {
    arrivals_.push_back({list, std::move(arrival)});
  }
  // Takes the arrivals waiting for a read of this kind of list.
  std::vector<std::function<void()>> TakeArrivals(ListRead list);

  // --- what the devices saw ---
  // Whether opens and queries are recorded (on by default; long runs turn it off).
  void SetRecording(bool on) { recording_ = on; }
  bool recording() const { return recording_; }
  std::vector<DeviceOpenRecord>& opens() { return opens_; }
  std::vector<DeviceQueryRecord>& queries() { return queries_; }
  // IOCTL_NDIS_QUERY_GLOBAL_STATS calls of an OID to the device of a GUID.
  uint64_t QueryCount(std::u16string_view guid, uint32_t oid) const;
  // Control requests made without an OVERLAPPED on a handle opened with FILE_FLAG_OVERLAPPED.
  // On Windows a driver may pend such a request and complete it after the call has returned,
  // into buffers the caller no longer owns; the simulated drivers answer at once, so the
  // misuse is only counted (recording or not), for tests to require that there is none.
  uint64_t SynchronousRequestsOnOverlappedHandles() const { return synchronousOnOverlapped_; }
  void CountSynchronousRequestOnOverlappedHandle() { ++synchronousOnOverlapped_; }

 private:
  friend AdapterRecord& AddAdapter(Machine& machine, const SimAdapter& adapter);
  friend bool RemoveAdapter(Machine& machine, std::u16string_view guid);

  std::vector<std::u16string> defaultFilters_;
  bool defaultFiltersFirst_ = false;
  // The network class key's subkeys by the GUID they name, for AddAdapter.
  NetClassKeys netClassKeys_;

  // Records of one kind found by name without regard to case. A record is filed under the
  // names it had when it was last filed, with its place in its list, so that the candidates
  // for a name come in list order; a lookup checks each candidate's current name, skips one
  // that no longer has it and files that one again.
  template <typename T>
  class NameIndex {
   public:
    struct Entry {
      uint64_t place;
      T* record;
    };
    // Files the record under these names, replacing its earlier filing; the place is kept
    // when it was filed before.
    void File(T* record, uint64_t place, const std::vector<std::u16string_view>& names);
    void Refile(T* record, const std::vector<std::u16string_view>& names);
    void Remove(const T* record);
    const std::vector<Entry>& Candidates(std::u16string_view name) const;

   private:
    struct NoCaseHash {
      using is_transparent = void;
      size_t operator()(std::u16string_view name) const;
    };
    struct NoCaseEqual {
      using is_transparent = void;
      bool operator()(std::u16string_view a, std::u16string_view b) const;
    };
    std::unordered_map<std::u16string, std::vector<Entry>, NoCaseHash, NoCaseEqual> byName_;
    std::unordered_map<const T*, std::pair<uint64_t, std::vector<std::u16string>>> filed_;
  };

  // A record handed out for editing is filed again at the next lookup, under the names it
  // has then.
  NdisDevice* Edited(NdisDevice* device) const;
  DevNode* Edited(DevNode* node) const;
  AdapterRecord* Edited(AdapterRecord* record) const;
  void RefileEdited() const;
  void FileNdis(NdisDevice* device, uint64_t place) const;
  void FileNode(DevNode* node, uint64_t place) const;
  void FileAdapter(AdapterRecord* record, uint64_t place) const;
  AdapterRecord& KeepAdapter(std::unique_ptr<AdapterRecord> record);
  void DropAdapter(const AdapterRecord* record);
  // Any adapter filed under this instance ID; any adapter other than the GUID's under this
  // parent ID (AddAdapter's and RemoveAdapter's questions).
  bool AdapterWithInstanceId(std::u16string_view instanceId) const;
  bool OtherAdapterWithParent(std::u16string_view parentId, std::u16string_view guid) const;

  std::vector<std::unique_ptr<NdisDevice>> ndis_;
  std::vector<std::unique_ptr<DevNode>> nodes_;
  uint32_t nextDevInst_ = 1;
  std::vector<std::unique_ptr<AdapterRecord>> adapters_;
  uint64_t nextPlace_ = 0;
  mutable NameIndex<NdisDevice> ndisByGuid_, ndisByPrivateName_;
  mutable NameIndex<DevNode> nodesById_, nodesByInterface_;
  mutable NameIndex<AdapterRecord> adaptersByGuid_, adaptersByInstanceId_, adaptersByParentId_;
  mutable std::vector<NdisDevice*> editedNdis_;
  mutable std::vector<DevNode*> editedNodes_;
  mutable std::vector<AdapterRecord*> editedAdapters_;
  std::vector<DeviceOpenRecord> opens_;
  std::vector<DeviceQueryRecord> queries_;
  uint64_t synchronousOnOverlapped_ = 0;
  bool recording_ = true;
  std::vector<std::pair<ListRead, std::function<void()>>> arrivals_;
};

}  // namespace sim

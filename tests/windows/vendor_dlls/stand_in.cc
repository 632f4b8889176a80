// A stand-in for the adapter vendors' management libraries, built as qlmapia.dll, bmapia.dll
// and bmapi.dll (and variants with an entry point left out) for the tests that load them
// through the real loader. Its inner working is ours. It knows the adapters, physical NICs and
// answers that the test describes in the environment variable CRVSTANDIN_<NAME> (NAME the
// library's upper-case name), read when the library is loaded; it checks the record version
// the caller sets in each record; and it appends every call, and its attach to and detach from
// the process, to the variable CRVSTANDIN_CALLS ("<name>:<event>[=<status>]", separated by
// spaces), which outlives the library.
//
// Settings, separated by ';', fields by '/', numbers decimal or 0x hexadecimal:
//   init-failures=N           InitializeEx answers kBusy to its first N calls after each load
//   uninit=STATUS             Uninitialize's answer (0 unless set)
//   adapter=NAME/HANDLE       the adapter handle for a service name (compared ignoring case)
//   nic=HANDLE/TYPE/OWNER     a physical NIC of that entry type (bmapi.dll: kind) whose
//                             enumeration info names the adapter OWNER; OWNER "-": the
//                             enumeration info cannot be had
//   pnp=HANDLE/TEXT           a NIC's PnP device id (bmapi.dll)
//   fw-5706=HANDLE/TEXT, fw-57710=HANDLE/TEXT, fw-579xx=HANDLE/TEXT
//                             a virtual bus driver's firmware version texts
//   fw-word=HANDLE/WORD       the version word of an adapter's firmware info (bmapia.dll)
// Whatever is not described answers kNotFound, and so do the NIC and link records.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <cwctype>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNotFound = 2;
constexpr uint32_t kBusy = 31;
constexpr uint32_t kBadVersion = 87;
constexpr uint32_t kMoreData = 234;

constexpr wchar_t kName[] = STAND_IN_NAME;
constexpr size_t kPhyNicEntrySize = 420;

struct Nic {
  uint32_t handle = 0;
  uint32_t type = 0;
  bool enumerable = false;
  uint32_t owner = 0;
};

struct Settings {
  uint32_t initFailures = 0;
  uint32_t uninitStatus = 0;
  std::vector<std::pair<std::wstring, uint32_t>> adapters;
  std::vector<Nic> nics;
  std::map<std::wstring, std::map<uint32_t, std::wstring>> byHandle;  // by setting name, handle
};

Settings g_settings;
uint32_t g_initCalls = 0;

std::wstring Variable(const std::wstring& name) {
  std::wstring value(32767, L'\0');
  DWORD length = GetEnvironmentVariableW(name.c_str(), value.data(), 32767);
  value.resize(length < 32767 ? length : 0);
  return value;
}

void Note(const std::wstring& event) {
  std::wstring calls = Variable(L"CRVSTANDIN_CALLS");
  if (!calls.empty()) calls += L' ';
  calls += kName + (L':' + event);
  SetEnvironmentVariableW(L"CRVSTANDIN_CALLS", calls.c_str());
}

uint32_t Answer(const wchar_t* entry, uint32_t status) {
  Note(entry + (L'=' + std::to_wstring(status)));
  return status;
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(separator, start)) != std::wstring::npos; start = at + 1) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

uint32_t Number(const std::wstring& text) {
  return static_cast<uint32_t>(std::wcstoul(text.c_str(), nullptr, 0));
}

void Load() {
  std::wstring variable = L"CRVSTANDIN_";
  for (const wchar_t* c = kName; *c != 0; ++c) variable += static_cast<wchar_t>(std::towupper(*c));
  for (const std::wstring& setting : Split(Variable(variable), L';')) {
    size_t equals = setting.find(L'=');
    if (equals == std::wstring::npos) continue;
    std::wstring key = setting.substr(0, equals);
    std::vector<std::wstring> fields = Split(setting.substr(equals + 1), L'/');
    if (key == L"init-failures") {
      g_settings.initFailures = Number(fields[0]);
    } else if (key == L"uninit") {
      g_settings.uninitStatus = Number(fields[0]);
    } else if (key == L"adapter" && fields.size() == 2) {
      g_settings.adapters.emplace_back(fields[0], Number(fields[1]));
    } else if (key == L"nic" && fields.size() == 3) {
      g_settings.nics.push_back(
          {Number(fields[0]), Number(fields[1]), fields[2] != L"-", Number(fields[2])});
    } else if (fields.size() == 2) {
      g_settings.byHandle[key][Number(fields[0])] = fields[1];
    }
  }
}

// The setting's text for a handle; null when it is not described.
const std::wstring* Find(const wchar_t* key, uint32_t handle) {
  auto set = g_settings.byHandle.find(key);
  if (set == g_settings.byHandle.end()) return nullptr;
  auto it = set->second.find(handle);
  return it == set->second.end() ? nullptr : &it->second;
}

const Nic* FindNic(uint32_t handle) {
  for (const Nic& nic : g_settings.nics) {
    if (nic.handle == handle) return &nic;
  }
  return nullptr;
}

bool HasVersion(const void* record, uint32_t version) {
  uint32_t word;
  std::memcpy(&word, record, sizeof word);
  return word == version;
}

void PutWord(void* record, size_t offset, uint32_t value) {
  std::memcpy(static_cast<uint8_t*>(record) + offset, &value, sizeof value);
}

uint32_t InitializeEx(const wchar_t* entry) {
  return Answer(entry, ++g_initCalls <= g_settings.initFailures ? kBusy : 0);
}

uint32_t HandleByServiceName(const wchar_t* entry, const wchar_t* name, uint32_t* handle) {
  for (const auto& [known, adapter] : g_settings.adapters) {
    if (_wcsicmp(known.c_str(), name) == 0) {
      *handle = adapter;
      return Answer(entry, 0);
    }
  }
  return Answer(entry, kNotFound);
}

uint32_t NumPhyNic(const wchar_t* entry, uint32_t* count) {
  *count = static_cast<uint32_t>(g_settings.nics.size());
  return Answer(entry, 0);
}

uint32_t AllPhyNic(const wchar_t* entry, void* entries, uint32_t count) {
  if (count < g_settings.nics.size()) return Answer(entry, kMoreData);
  for (size_t i = 0; i < g_settings.nics.size(); ++i) {
    void* slot = static_cast<uint8_t*>(entries) + i * kPhyNicEntrySize;
    PutWord(slot, 0, g_settings.nics[i].type);
    PutWord(slot, 4, g_settings.nics[i].handle);
  }
  return Answer(entry, 0);
}

uint32_t VbdEnumInfo(const wchar_t* entry, uint32_t nicHandle, void* info) {
  if (!HasVersion(info, 4)) return Answer(entry, kBadVersion);
  const Nic* nic = FindNic(nicHandle);
  if (nic == nullptr || !nic->enumerable) return Answer(entry, kNotFound);
  PutWord(info, 16, nic->owner);
  return Answer(entry, 0);
}

// A narrow, terminated text at offset in a record of size bytes.
uint32_t FirmwareText(const wchar_t* entry, const wchar_t* key, uint32_t vbd, void* info,
                      uint32_t version, size_t size, size_t offset) {
  if (!HasVersion(info, version)) return Answer(entry, kBadVersion);
  const std::wstring* text = Find(key, vbd);
  if (text == nullptr) return Answer(entry, kNotFound);
  size_t length = text->size() < size - offset - 1 ? text->size() : size - offset - 1;
  auto* out = static_cast<uint8_t*>(info) + offset;
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>((*text)[i]);
  out[length] = 0;
  return Answer(entry, 0);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    Load();
    Note(L"attach");
  } else if (reason == DLL_PROCESS_DETACH) {
    Note(L"detach");
  }
  return TRUE;
}

// Exported by the .def files under the libraries' own names.
extern "C" {

// qlmapia.dll
uint32_t QLmapiInitializeEx(uint32_t) { return InitializeEx(L"QLmapiInitializeEx"); }
uint32_t QLmapiUninitialize() { return Answer(L"QLmapiUninitialize", g_settings.uninitStatus); }
uint32_t QLmapiGetHandleByServiceName(const wchar_t* name, uint32_t* handle) {
  return HandleByServiceName(L"QLmapiGetHandleByServiceName", name, handle);
}
uint32_t QLmapiGetBRCMNicInfo(uint32_t, void*) {
  return Answer(L"QLmapiGetBRCMNicInfo", kNotFound);
}
uint32_t QLmapiRetrieveLinkStatus(uint32_t, void*) {
  return Answer(L"QLmapiRetrieveLinkStatus", kNotFound);
}
uint32_t QLmapiGetPhyNic(uint32_t, void*) { return Answer(L"QLmapiGetPhyNic", kNotFound); }
uint32_t QLmapiGetNumPhyNic(uint32_t* count) { return NumPhyNic(L"QLmapiGetNumPhyNic", count); }
uint32_t QLmapiGetAllPhyNic(void* entries, uint32_t count) {
  return AllPhyNic(L"QLmapiGetAllPhyNic", entries, count);
}
uint32_t QLmapiGetVbdEnumInfo(uint32_t nic, void* info) {
  return VbdEnumInfo(L"QLmapiGetVbdEnumInfo", nic, info);
}
uint32_t QLmapiGet5706FwInfo(uint32_t vbd, void* info) {
  return FirmwareText(L"QLmapiGet5706FwInfo", L"fw-5706", vbd, info, 10, 632, 8);
}
uint32_t QLmapiGet57710FwInfo(uint32_t vbd, void* info) {
  return FirmwareText(L"QLmapiGet57710FwInfo", L"fw-57710", vbd, info, 11, 824, 8);
}
uint32_t QLmapiGet579XXFwInfo(uint32_t vbd, void* info) {
  return FirmwareText(L"QLmapiGet579XXFwInfo", L"fw-579xx", vbd, info, 1, 5257, 4);
}

// bmapia.dll, and the first three for bmapi.dll too
uint32_t BmapiInitializeEx(uint32_t) { return InitializeEx(L"BmapiInitializeEx"); }
uint32_t BmapiUninitialize() { return Answer(L"BmapiUninitialize", g_settings.uninitStatus); }
uint32_t BmapiGetHandleByServiceName(const wchar_t* name, uint32_t* handle) {
  return HandleByServiceName(L"BmapiGetHandleByServiceName", name, handle);
}
uint32_t BmapiGetBRCMNicInfo(uint32_t, void*) { return Answer(L"BmapiGetBRCMNicInfo", kNotFound); }
uint32_t BmapiGetNumPhyNic(uint32_t* count) { return NumPhyNic(L"BmapiGetNumPhyNic", count); }
uint32_t BmapiGetAllPhyNic(void* entries, uint32_t count) {
  return AllPhyNic(L"BmapiGetAllPhyNic", entries, count);
}
uint32_t BmapiGetVbdEnumInfo(uint32_t nic, void* info) {
  return VbdEnumInfo(L"BmapiGetVbdEnumInfo", nic, info);
}
uint32_t BmapiGetFirmwareInfo(uint32_t adapter, void* info) {
  if (!HasVersion(info, 12)) return Answer(L"BmapiGetFirmwareInfo", kBadVersion);
  const std::wstring* word = Find(L"fw-word", adapter);
  if (word == nullptr) return Answer(L"BmapiGetFirmwareInfo", kNotFound);
  uint16_t version = static_cast<uint16_t>(Number(*word));
  std::memcpy(static_cast<uint8_t*>(info) + 154, &version, sizeof version);
  return Answer(L"BmapiGetFirmwareInfo", 0);
}
uint32_t BmapiGet5706FwInfo(uint32_t vbd, void* info) {
  return FirmwareText(L"BmapiGet5706FwInfo", L"fw-5706", vbd, info, 10, 632, 8);
}
uint32_t BmapiGet57710FwInfo(uint32_t vbd, void* info) {
  return FirmwareText(L"BmapiGet57710FwInfo", L"fw-57710", vbd, info, 9, 792, 8);
}

// bmapi.dll
uint32_t BmapiGetBRCMNicInfoEx(uint32_t, void*) {
  return Answer(L"BmapiGetBRCMNicInfoEx", kNotFound);
}
uint32_t BmapiGetNumPhyNicEx(uint32_t* count) { return NumPhyNic(L"BmapiGetNumPhyNicEx", count); }
uint32_t BmapiGetAllPhyNicHandles(uint32_t* handles, uint32_t count) {
  if (count < g_settings.nics.size()) return Answer(L"BmapiGetAllPhyNicHandles", kMoreData);
  for (size_t i = 0; i < g_settings.nics.size(); ++i) handles[i] = g_settings.nics[i].handle;
  return Answer(L"BmapiGetAllPhyNicHandles", 0);
}
uint32_t BmapiGetPhyNic(uint32_t handle, void* info) {
  if (!HasVersion(info, 16)) return Answer(L"BmapiGetPhyNic", kBadVersion);
  const Nic* nic = FindNic(handle);
  if (nic == nullptr) return Answer(L"BmapiGetPhyNic", kNotFound);
  PutWord(info, 8, nic->type);
  return Answer(L"BmapiGetPhyNic", 0);
}
// Without a buffer, or with one too small, it answers the length the id needs, terminator
// included.
uint32_t BmapiGetPnpDevId(uint32_t nic, char* buffer, uint32_t* length, uint32_t*, uint32_t*) {
  const std::wstring* id = Find(L"pnp", nic);
  if (id == nullptr) return Answer(L"BmapiGetPnpDevId", kNotFound);
  const uint32_t have = *length;
  *length = static_cast<uint32_t>(id->size() + 1);
  if (buffer == nullptr) return Answer(L"BmapiGetPnpDevId", 0);
  if (have < *length) return Answer(L"BmapiGetPnpDevId", kMoreData);
  for (size_t i = 0; i <= id->size(); ++i) buffer[i] = static_cast<char>((*id)[i]);
  return Answer(L"BmapiGetPnpDevId", 0);
}

}  // extern "C"

// crv_testbed_seed.exe: seeds the registry of a Wine prefix as Windows' PnP manager and TCP/IP
// stack leave it for PCI network adapters, from the live interfaces Wine sees (docs/testbed.md
// has the layout). Each adapter is named by its Linux interface name and given the identity of
// a PCI network adapter:
//
//   crv_testbed_seed.exe --interface veth0 --instance
//   "PCI\VEN_8086&DEV_1572&SUBSYS_00018086&REV_01\4&2A1B3C4D&0&0018"
//       --service i40ea --description "Intel(R) Ethernet X710" --location "PCI bus 24, device 0,
//       function 0"
//       --slot 3 --connection "Ethernet 1" [--dhcp] [--interface ...]
//
// The GUID, MAC address and IPv4 address are the ones Wine gives the interface (its adapter
// name, physical address and first unicast address). Seeding an adapter again rewrites its keys,
// so a changed address is seeded by running the same command again. Prints one line per adapter:
//   seeded veth0 {GUID} index N mac aa:bb:cc:dd:ee:ff ipv4 A.B.C.D class-key NNNN
// winsock2.h first: windows.h, which the others include, must not come before it.
#include <winsock2.h>

#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kNetClass[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t kLanInterfaceClass[] = L"{ad498944-762f-11d0-8dcb-00c04fc3358c}";
constexpr wchar_t kControl[] = L"SYSTEM\\CurrentControlSet\\Control";

struct Adapter {
  std::wstring linuxName, instance, service, description, location, connection;
  DWORD slot = 0;
  bool dhcp = false;
};

struct LiveInterface {
  std::wstring guid;
  DWORD index = 0;
  BYTE mac[8] = {};
  DWORD macLength = 0;
  std::wstring ipv4, mask;
};

bool Fail(const wchar_t* what, const std::wstring& detail, LONG error = 0) {
  fwprintf(stderr, L"crv_testbed_seed: %ls %ls (error %ld)\n", what, detail.c_str(), error);
  return false;
}

bool FindLive(const std::wstring& linuxName, LiveInterface* live) {
  ULONG size = 64 * 1024;
  std::vector<BYTE> buffer(size);
  auto* list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
  ULONG status = GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_DNS_SERVER, nullptr, list, &size);
  if (status != NO_ERROR) return Fail(L"GetAdaptersAddresses failed for", linuxName, status);
  for (auto* a = list; a != nullptr; a = a->Next) {
    if (a->Description == nullptr || linuxName != a->Description) continue;
    live->guid.assign(a->AdapterName, a->AdapterName + std::strlen(a->AdapterName));
    live->index = a->IfIndex;
    live->macLength = a->PhysicalAddressLength < 8 ? a->PhysicalAddressLength : 8;
    std::memcpy(live->mac, a->PhysicalAddress, live->macLength);
    if (a->FirstUnicastAddress != nullptr) {
      auto* in = reinterpret_cast<sockaddr_in*>(a->FirstUnicastAddress->Address.lpSockaddr);
      wchar_t text[INET_ADDRSTRLEN] = {};
      InetNtopW(AF_INET, &in->sin_addr, text, ARRAYSIZE(text));
      live->ipv4 = text;
      ULONG bits = a->FirstUnicastAddress->OnLinkPrefixLength;
      ULONG mask = bits == 0 ? 0 : 0xFFFFFFFFul << (32 - bits);
      in_addr maskAddress;
      maskAddress.s_addr = htonl(mask);
      InetNtopW(AF_INET, &maskAddress, text, ARRAYSIZE(text));
      live->mask = text;
    }
    return true;
  }
  return Fail(L"no interface described", linuxName);
}

class Key {
 public:
  Key(const std::wstring& path, bool isVolatile = false) : path_(path) {
    status_ = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                              isVolatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    if (status_ != ERROR_SUCCESS) Fail(L"cannot create", path, status_);
  }
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  bool ok() const { return status_ == ERROR_SUCCESS && written_; }

  Key& Text(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    return Bytes(name, type, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  }
  // Texts each terminated, and one more terminator.
  Key& Texts(const wchar_t* name, const std::vector<std::wstring>& texts) {
    std::wstring joined;
    for (const std::wstring& text : texts) joined += text + L'\0';
    joined += L'\0';
    return Bytes(name, REG_MULTI_SZ, joined.data(), joined.size() * sizeof(wchar_t));
  }
  Key& Dword(const wchar_t* name, DWORD value) {
    return Bytes(name, REG_DWORD, &value, sizeof value);
  }

 private:
  Key& Bytes(const wchar_t* name, DWORD type, const void* data, size_t size) {
    if (key_ == nullptr) return *this;
    LONG status = RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data),
                                 static_cast<DWORD>(size));
    if (status != ERROR_SUCCESS) {
      written_ = false;
      Fail(L"cannot write a value under", path_, status);
    }
    return *this;
  }

  std::wstring path_;
  HKEY key_ = nullptr;
  LONG status_ = ERROR_SUCCESS;
  bool written_ = true;
};

// The class key already holding this GUID, or the first free four-digit number.
std::wstring ClassKeyNumber(const std::wstring& guid) {
  const std::wstring classPath = std::wstring(kControl) + L"\\Class\\" + kNetClass;
  for (int n = 0; n < 10000; ++n) {
    wchar_t number[8];
    swprintf(number, ARRAYSIZE(number), L"%04d", n);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (classPath + L"\\" + number).c_str(), 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
      return number;
    }
    wchar_t held[64] = {};
    DWORD size = sizeof held - sizeof(wchar_t);
    LONG status = RegQueryValueExW(key, L"NetCfgInstanceId", nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(held), &size);
    RegCloseKey(key);
    if (status == ERROR_SUCCESS && _wcsicmp(held, guid.c_str()) == 0) return number;
  }
  return L"9999";
}

// "PCI\VEN_8086&DEV_1572&SUBSYS_00018086&REV_01" and its shorter forms, as Windows lists them.
std::vector<std::wstring> HardwareIds(const std::wstring& instance) {
  std::wstring full = instance.substr(0, instance.rfind(L'\\'));
  std::vector<std::wstring> ids{full};
  for (size_t cut = full.rfind(L'&'); cut != std::wstring::npos && cut > 4;
       cut = full.rfind(L'&', cut - 1)) {
    ids.push_back(full.substr(0, cut));
  }
  return ids;
}

bool Seed(const Adapter& adapter) {
  LiveInterface live;
  if (!FindLive(adapter.linuxName, &live)) return false;
  const std::wstring classNumber = ClassKeyNumber(live.guid);
  const std::wstring driver = std::wstring(kNetClass) + L"\\" + classNumber;

  const std::wstring enumPath = L"SYSTEM\\CurrentControlSet\\Enum\\" + adapter.instance;
  Key device(enumPath);
  device.Text(L"ClassGUID", kNetClass)
      .Text(L"Class", L"Net")
      .Text(L"DeviceDesc", adapter.description)
      .Texts(L"HardwareID", HardwareIds(adapter.instance))
      .Text(L"Service", adapter.service)
      .Text(L"Driver", driver)
      .Text(L"LocationInformation", adapter.location)
      .Dword(L"UINumber", adapter.slot);
  Key started(enumPath + L"\\Control", true);
  started.Text(L"ActiveService", adapter.service);
  Key hardware(enumPath + L"\\Device Parameters");

  Key software(std::wstring(kControl) + L"\\Class\\" + driver);
  software.Text(L"NetCfgInstanceId", live.guid)
      .Text(L"DriverDesc", adapter.description)
      .Text(L"MatchingDeviceId", HardwareIds(adapter.instance).back());

  // "\\?\PCI#VEN_...#4&...#{class}\{guid}" is kept as "##?#PCI#VEN_...#4&...#{class}" and
  // "#{guid}".
  std::wstring link = L"##?#" + adapter.instance + L"#" + kLanInterfaceClass;
  for (wchar_t& c : link) {
    if (c == L'\\') c = L'#';
  }
  const std::wstring linkPath =
      std::wstring(kControl) + L"\\DeviceClasses\\" + kLanInterfaceClass + L"\\" + link;
  Key interfaceKey(linkPath);
  interfaceKey.Text(L"DeviceInstance", adapter.instance);
  Key reference(linkPath + L"\\#" + live.guid);
  reference.Text(L"SymbolicLink", L"\\\\?\\" + link.substr(4) + L"\\" + live.guid);
  Key linked(linkPath + L"\\#" + live.guid + L"\\Control", true);
  linked.Dword(L"Linked", 1);

  Key connection(std::wstring(kControl) + L"\\Network\\" + kNetClass + L"\\" + live.guid +
                 L"\\Connection");
  connection.Text(L"Name", adapter.connection).Text(L"PnpInstanceID", adapter.instance);

  Key tcpip(L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\" + live.guid);
  tcpip.Dword(L"EnableDHCP", adapter.dhcp ? 1 : 0);
  if (adapter.dhcp) {
    tcpip.Text(L"DhcpIPAddress", live.ipv4).Text(L"DhcpSubnetMask", live.mask);
  } else {
    tcpip.Texts(L"IPAddress", {live.ipv4.empty() ? L"0.0.0.0" : live.ipv4})
        .Texts(L"SubnetMask", {live.mask.empty() ? L"0.0.0.0" : live.mask});
  }

  const bool ok = device.ok() && started.ok() && hardware.ok() && software.ok() &&
                  interfaceKey.ok() && reference.ok() && linked.ok() && connection.ok() &&
                  tcpip.ok();
  wprintf(L"seeded %ls %ls index %lu mac ", adapter.linuxName.c_str(), live.guid.c_str(),
          live.index);
  for (DWORD i = 0; i < live.macLength; ++i) wprintf(i == 0 ? L"%02x" : L":%02x", live.mac[i]);
  wprintf(L" ipv4 %ls class-key %ls\n", live.ipv4.empty() ? L"-" : live.ipv4.c_str(),
          classNumber.c_str());
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<Adapter> adapters;
  for (int i = 1; i < argc; ++i) {
    std::wstring option = argv[i];
    if (option == L"--interface" && i + 1 < argc) {
      adapters.emplace_back();
      adapters.back().linuxName = argv[++i];
      continue;
    }
    if (adapters.empty()) break;
    Adapter& a = adapters.back();
    if (option == L"--dhcp") {
      a.dhcp = true;
    } else if (i + 1 >= argc) {
      break;
    } else if (option == L"--instance") {
      a.instance = argv[++i];
    } else if (option == L"--service") {
      a.service = argv[++i];
    } else if (option == L"--description") {
      a.description = argv[++i];
    } else if (option == L"--location") {
      a.location = argv[++i];
    } else if (option == L"--slot") {
      a.slot = static_cast<DWORD>(wcstoul(argv[++i], nullptr, 10));
    } else if (option == L"--connection") {
      a.connection = argv[++i];
    } else {
      fwprintf(stderr, L"crv_testbed_seed: unknown option %ls\n", option.c_str());
      return 2;
    }
  }
  if (adapters.empty()) {
    fwprintf(stderr,
             L"usage: crv_testbed_seed.exe --interface NAME --instance ID --service S "
             L"--description D --location L --slot N --connection C [--dhcp] ...\n");
    return 2;
  }
  bool ok = true;
  for (const Adapter& adapter : adapters) {
    if (adapter.instance.empty() || adapter.service.empty()) {
      fwprintf(stderr, L"crv_testbed_seed: %ls needs --instance and --service\n",
               adapter.linuxName.c_str());
      ok = false;
      continue;
    }
    ok = Seed(adapter) && ok;
  }
  return ok ? 0 : 1;
}

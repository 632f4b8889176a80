// The stand-in NDIS driver's user side: Wine's interface table (which interfaces get a device,
// their GUIDs, addresses and medium, as Wine's own ndis.sys takes them) and the live state of
// the Linux interface behind each, read from /sys/class/net/<name>/ through Wine's Z: drive.
// The driver runs inside winedevice.exe, a user process under Wine, so it can call the IP
// helper and the registry; files are read with the kernel's calls (ndis_driver.c), because
// Wine treats a native driver that imports kernel32 or ntdll as an ordinary library and calls
// its entry point as DllMain.
// winsock2.h and ws2tcpip.h first: the interface table's types need their address types.
#include <winsock2.h>

#include <ws2tcpip.h>

#include <iphlpapi.h>

#include <cstring>

#include "ndis_stand_in.h"

// The driver links no C runtime (winedevice.exe calls its entry point as the driver's, never a
// runtime's start-up), so text is put together by hand here.
namespace ndis_stand_in {
namespace {

// Appends text to a buffer of size characters, always terminated; false when it was cut.
template <typename Char>
bool Append(wchar_t* buffer, size_t size, const Char* text) {
  size_t length = 0;
  while (length < size && buffer[length] != 0) ++length;
  for (; *text != 0; ++text) {
    if (length + 1 >= size) return false;
    buffer[length++] = static_cast<wchar_t>(*text);
  }
  buffer[length] = 0;
  return true;
}

bool Equal(const char* a, const char* b) {
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a == *b;
}

// The first line of a file under /sys/class/net/<name>/, without its line break; false when
// it cannot be read (an interface that is down answers EINVAL for its carrier and speed).
bool ReadSysLine(const wchar_t* linuxName, const wchar_t* file, char* line, size_t size) {
  wchar_t path[MAX_PATH] = {};
  if (!Append(path, MAX_PATH, L"\\??\\Z:\\sys\\class\\net\\") ||
      !Append(path, MAX_PATH, linuxName) || !Append(path, MAX_PATH, L"\\") ||
      !Append(path, MAX_PATH, file)) {
    return false;
  }
  size_t read = StandInReadFile(path, line, size - 1);
  if (read == 0) return false;
  line[read] = 0;
  for (char* c = line; *c != 0; ++c) {
    if (*c == '\r' || *c == '\n') *c = 0;
  }
  return true;
}

bool ReadNumber(const wchar_t* linuxName, const wchar_t* file, long long* value) {
  char line[64];
  if (!ReadSysLine(linuxName, file, line, sizeof line)) return false;
  const char* c = line;
  bool negative = *c == '-';
  if (negative) ++c;
  if (*c < '0' || *c > '9') return false;
  long long number = 0;
  for (; *c >= '0' && *c <= '9'; ++c) number = number * 10 + (*c - '0');
  *value = negative ? -number : number;
  return true;
}

// Upper-case hexadecimal digits of value, most significant first.
wchar_t* Hex(wchar_t* out, uint64_t value, int digits) {
  for (int i = digits - 1; i >= 0; --i) *out++ = L"0123456789ABCDEF"[(value >> (4 * i)) & 0xF];
  return out;
}

// As Wine's ndis.sys names the device: upper case, in braces.
void FormatGuid(const GUID& g, wchar_t* text) {
  wchar_t* out = text;
  *out++ = L'{';
  out = Hex(out, g.Data1, 8);
  *out++ = L'-';
  out = Hex(out, g.Data2, 4);
  *out++ = L'-';
  out = Hex(out, g.Data3, 4);
  *out++ = L'-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) *out++ = L'-';
    out = Hex(out, g.Data4[i], 2);
  }
  *out++ = L'}';
  *out = 0;
}

wchar_t* Decimal(wchar_t* out, unsigned long value) {
  wchar_t digits[16];
  int n = 0;
  do {
    digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) *out++ = digits[--n];
  *out = 0;
  return out;
}

}  // namespace

// Kept so that nothing reading the key notices the stand-in.
void AddCardKey(const Adapter& adapter) {
  wchar_t name[128] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards\\";
  Decimal(name + wcslen(name), adapter.interfaceIndex);
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, name, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExW(key, L"Description", 0, REG_SZ, reinterpret_cast<const BYTE*>(adapter.linuxName),
                 static_cast<DWORD>((wcslen(adapter.linuxName) + 1) * sizeof(wchar_t)));
  RegSetValueExW(key, L"ServiceName", 0, REG_SZ, reinterpret_cast<const BYTE*>(adapter.guid),
                 static_cast<DWORD>((wcslen(adapter.guid) + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

bool WatchingInterfaces() {
  DWORD value = 0;
  DWORD size = sizeof value;
  return RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\NDIS\\Parameters",
                      L"WatchInterfaces", RRF_RT_REG_DWORD, nullptr, &value,
                      &size) == ERROR_SUCCESS &&
         value == 1;
}

size_t ListAdapters(Adapter* adapters, size_t capacity) {
  MIB_IF_TABLE2* table = nullptr;
  if (GetIfTable2(&table) != NO_ERROR) return 0;
  size_t count = 0;
  for (ULONG i = 0; i < table->NumEntries && count < capacity; ++i) {
    const MIB_IF_ROW2& row = table->Table[i];
    Adapter& a = adapters[count];
    std::memset(&a, 0, sizeof a);
    FormatGuid(row.InterfaceGuid, a.guid);
    Append(a.linuxName, kLinuxNameChars, row.Description);
    a.addressLength = row.PhysicalAddressLength < kAddressBytes ? row.PhysicalAddressLength : 0;
    std::memcpy(a.currentAddress, row.PhysicalAddress, a.addressLength);
    std::memcpy(a.permanentAddress, row.PermanentPhysicalAddress, a.addressLength);
    a.medium = static_cast<uint32_t>(row.MediaType);
    a.interfaceIndex = row.InterfaceIndex;
    ++count;
  }
  FreeMibTable(table);
  return count;
}

LinkFacts ReadLinkFacts(const wchar_t* linuxName) {
  LinkFacts facts = {false, 0, Duplex::kUnknown};
  long long number = 0;
  facts.connected = ReadNumber(linuxName, L"carrier", &number) && number == 1;
  // Linux answers -1 (SPEED_UNKNOWN) where the driver does not know it.
  if (ReadNumber(linuxName, L"speed", &number) && number > 0) {
    facts.megabitsPerSecond = static_cast<uint64_t>(number);
  }
  char line[16];
  if (ReadSysLine(linuxName, L"duplex", line, sizeof line)) {
    if (Equal(line, "full")) facts.duplex = Duplex::kFull;
    if (Equal(line, "half")) facts.duplex = Duplex::kHalf;
  }
  return facts;
}

bool ReadStatistic(const wchar_t* linuxName, const char* counter, uint64_t* value) {
  wchar_t file[64] = L"statistics\\";
  if (!Append(file, 64, counter)) return false;
  long long number = 0;
  if (!ReadNumber(linuxName, file, &number) || number < 0) return false;
  *value = static_cast<uint64_t>(number);
  return true;
}

}  // namespace ndis_stand_in

// The interface table snapshot, its filter and change test, and the published tree, against a
// real interface table: Wine's, in the private network namespace that in-netns.sh makes (lo,
// veth0 with 10.77.0.1, veth1, tap0). The tests add and remove interfaces there with Linux
// commands while they run, so they refuse to run anywhere else (CRV_NETNS=1 is the sign).
//
// What Wine 8 answers for the rows: dwIndex is the Linux interface index, bDescr the Linux
// interface name (dwDescrLen without a terminator), wszName "\DEVICE\TCPIP_" and a GUID made
// from the index. The loopback is type 24, MTU 65536, no physical address, described "lo": it is
// managed because its MTU is not 0, not through the "Software Loopback Interface 1" exception.
// veth and tap rows are type 6, MTU 1500, a 6-byte address. dwSpeed and dwLastChange are 0 on
// every row; dwAdminStatus is 1; dwOperStatus is 5 (operational) for an interface that is up,
// with or without carrier (tap0 has none), and 0 (not operational) for one that is down. The
// octet and packet counters are the kernel's, cut to 32 bits, and move with real traffic. An
// interface removed from Linux keeps its row, now with MTU 0 and operational status 0, until
// Wine's network driver starts again; only then does the table shrink.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "collect/if_list.h"
#include "collect/if_table.h"
#include "common/process_state.h"
#include "discovery/miniport.h"
#include "discovery/miniport_list.h"
#include "discovery/win32_net_adapter.h"
#include "host_runner.h"
#include "platform/platform.h"
#include "platform/win32/win32_platform.h"
#include "publish/published_tree.h"
#include "trap/trap.h"

namespace crvtest {
namespace {

using platform::MibIfRow;

constexpr wchar_t kTreeKey[] = L"SYSTEM\\TessarNetwork";
constexpr wchar_t kInterfaceKey[] = L"SYSTEM\\TessarNetwork\\Interface";
constexpr wchar_t kEthernetKey[] = L"SYSTEM\\TessarNetwork\\Ethernet";
constexpr uint32_t kOperational = 5;  // IF_OPER_STATUS_OPERATIONAL

bool InPrivateNamespace() {
  const char* flag = std::getenv("CRV_NETNS");
  return flag != nullptr && std::strcmp(flag, "1") == 0 && std::getenv("CRV_NETNS_DIR") != nullptr;
}

std::string Description(const MibIfRow& row) {
  size_t length = row.dwDescrLen < sizeof row.bDescr ? row.dwDescrLen : sizeof row.bDescr;
  return std::string(reinterpret_cast<const char*>(row.bDescr),
                     strnlen(reinterpret_cast<const char*>(row.bDescr), length));
}

std::unique_ptr<crv::CIFTable> TakeSnapshot() {
  auto table = std::make_unique<crv::CIFTable>();
  EXPECT_EQ(table->Init(), 0u);
  return table;
}

// The position of the row described `name`, or -1.
int FindRow(const crv::CIFTable& table, const char* name) {
  for (uint32_t i = 0; i < table.GetRowCount(); ++i) {
    if (Description(table.GetRow(i)) == name) return static_cast<int>(i);
  }
  return -1;
}

std::string RowText(const MibIfRow& row) {
  std::ostringstream text;
  text << Description(row) << " (index " << row.dwIndex << ", type " << row.dwType << ", MTU "
       << row.dwMtu << ", status " << row.dwOperStatus << ")";
  return text.str();
}

std::string TableText(const crv::CIFTable& table) {
  std::string text;
  for (uint32_t i = 0; i < table.GetRowCount(); ++i) text += "\n  " + RowText(table.GetRow(i));
  return text;
}

// --- Linux commands ------------------------------------------------------------------------

std::string WindowsPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::optional<std::string> ReadWholeFile(const std::string& windowsPath) {
  std::ifstream file(windowsPath, std::ios::binary);
  if (!file) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Runs a shell script as a Linux process of the namespace; a failure carries its output. Wine
// starts native programs but hands back no process handle to wait on, so the script leaves its
// exit status in a file that this polls for.
::testing::AssertionResult Shell(const std::string& script) {
  static int count = 0;
  const std::string base =
      std::string(std::getenv("CRV_NETNS_DIR")) + "/step" + std::to_string(++count);
  {
    std::ofstream file(WindowsPath(base + ".sh"), std::ios::binary);
    file << "PATH=/usr/sbin:/usr/bin:/sbin:/bin\nexport PATH\n(\n"
         << script << "\n) >'" << base << ".log' 2>&1\n"
         << "echo $? >'" << base << ".tmp' && mv '" << base << ".tmp' '" << base << ".status'\n";
    if (!file.good()) return ::testing::AssertionFailure() << "cannot write " << base << ".sh";
  }
  std::wstring commandLine = L"/bin/sh " + std::wstring(base.begin(), base.end()) + L".sh";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"/bin/sh", commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return ::testing::AssertionFailure() << "cannot start /bin/sh, error " << GetLastError();
  }
  const ULONGLONG deadline = GetTickCount64() + 30000;
  std::optional<std::string> status;
  while (!(status = ReadWholeFile(WindowsPath(base + ".status"))) && GetTickCount64() < deadline) {
    Sleep(20);
  }
  if (status && std::atoi(status->c_str()) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << (status ? "exit status " + *status : std::string("no end within 30 s")) << ", script:\n"
         << script << "\noutput:\n"
         << ReadWholeFile(WindowsPath(base + ".log")).value_or("");
}

// Ends Wine's device host that holds its network driver: the one of this namespace whose
// memory maps hold it.
constexpr char kEndNetworkDriverHost[] = R"sh(me=$(stat -L -c %i /proc/self/ns/net)
host=
for dir in /proc/[0-9]*; do
  [ "$(cat $dir/comm 2>/dev/null)" = winedevice.exe ] || continue
  [ "$(stat -L -c %i $dir/ns/net 2>/dev/null)" = "$me" ] || continue
  grep -q nsiproxy $dir/maps 2>/dev/null && host=${dir#/proc/}
done
[ -n "$host" ] || { echo "no device host with the network driver"; exit 1; }
kill $host
for i in $(seq 100); do kill -0 $host 2>/dev/null || exit 0; sleep 0.1; done
echo "device host $host did not end"; exit 1)sh";

// Wine lists an interface from the first time it sees it until its network driver starts
// again. Ends the driver's host and starts the driver again, so that the table lists only the
// interfaces that exist, as Windows does. (The mount manager shared that host; Wine will not
// start it a second time, and nothing here needs it.)
void RestartWineNetworkDriver() {
  ASSERT_TRUE(Shell(kEndNetworkDriverHost));
  UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  ASSERT_TRUE(manager) << GetLastError();
  UniqueScHandle driver(OpenServiceW(manager.get(), L"nsiproxy", SERVICE_START));
  ASSERT_TRUE(driver) << GetLastError();
  // Until the service manager has seen the host end, it answers as if the driver still ran.
  DWORD error = 0;
  for (ULONGLONG deadline = GetTickCount64() + 20000; GetTickCount64() < deadline; Sleep(100)) {
    error = StartServiceW(driver.get(), 0, nullptr) ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_SUCCESS) break;
  }
  ASSERT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS)) << "the network driver did not start again";
}

// --- Registry ------------------------------------------------------------------------------

bool KeyExists(const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// A key the agent creates is volatile: the registry refuses it an ordinary subkey.
LONG CreateOrdinarySubkey(const std::wstring& path) {
  HKEY key = nullptr;
  LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (path + L"\\NotVolatile").c_str(), 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    RegCloseKey(key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, (path + L"\\NotVolatile").c_str());
  }
  return status;
}

struct RegistryValue {
  DWORD type = 0;
  std::vector<uint8_t> data;
};

std::optional<RegistryValue> ReadValue(const wchar_t* keyPath, const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  RegistryValue value;
  DWORD size = 0;
  LONG status = RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    value.data.resize(size);
    status = RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size);
  }
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return value;
}

std::optional<uint32_t> ReadDword(const wchar_t* keyPath, const wchar_t* name) {
  std::optional<RegistryValue> value = ReadValue(keyPath, name);
  if (!value || value->type != REG_DWORD || value->data.size() != 4) return std::nullopt;
  uint32_t number;
  std::memcpy(&number, value->data.data(), 4);
  return number;
}

// --- Fixture -------------------------------------------------------------------------------

class NetnsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    platform::win32::InstallWin32Platform();
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  }
  static void TearDownTestSuite() { WSACleanup(); }
  void SetUp() override {
    if (!InPrivateNamespace()) {
      GTEST_SKIP() << "changes network interfaces: runs only inside tests/windows/in-netns.sh";
    }
  }
};

TEST_F(NetnsTest, SnapshotOfTheNamespacesRowsAndTheFilterOnThem) {
  std::unique_ptr<crv::CIFTable> table = TakeSnapshot();
  ASSERT_GE(table->GetRowCount(), 4u) << TableText(*table);
  for (uint32_t i = 1; i < table->GetRowCount(); ++i) {
    EXPECT_LT(table->GetRow(i - 1).dwIndex, table->GetRow(i).dwIndex) << "not sorted by index";
  }

  int loopback = FindRow(*table, "lo");
  ASSERT_GE(loopback, 0) << TableText(*table);
  const MibIfRow& lo = table->GetRow(loopback);
  EXPECT_EQ(lo.dwType, platform::kIfTypeSoftwareLoopback);
  EXPECT_EQ(lo.dwMtu, 65536u);
  EXPECT_EQ(lo.dwPhysAddrLen, 0u);
  EXPECT_TRUE(table->IsManagedInterface(loopback));
  EXPECT_EQ(table->FindLoopbackIndex(), lo.dwIndex);

  for (const char* name : {"veth0", "veth1", "tap0"}) {
    SCOPED_TRACE(name);
    int i = FindRow(*table, name);
    ASSERT_GE(i, 0) << TableText(*table);
    const MibIfRow& row = table->GetRow(i);
    EXPECT_EQ(row.dwType, platform::kIfTypeEthernetCsmacd);
    EXPECT_EQ(row.dwMtu, 1500u);
    EXPECT_EQ(row.dwPhysAddrLen, 6u);
    EXPECT_EQ(row.dwOperStatus, kOperational);
    EXPECT_TRUE(table->IsManagedInterface(i));
  }
  const MibIfRow& veth0 = table->GetRow(FindRow(*table, "veth0"));
  const MibIfRow& veth1 = table->GetRow(FindRow(*table, "veth1"));
  EXPECT_NE(std::memcmp(veth0.bPhysAddr, veth1.bPhysAddr, 6), 0);

  // The address table taken with it places each address on its interface.
  const platform::MibIpAddrTable* addresses = table->GetIpAddrTableRef();
  ASSERT_NE(addresses, nullptr);
  uint32_t onVeth0 = 0;
  uint32_t onLoopback = 0;
  for (uint32_t i = 0; i < addresses->dwNumEntries; ++i) {
    const platform::MibIpAddrRow& address = addresses->table[i];
    if (address.dwAddr == 0x01004D0Au) onVeth0 = address.dwIndex;     // 10.77.0.1
    if (address.dwAddr == 0x0100007Fu) onLoopback = address.dwIndex;  // 127.0.0.1
  }
  EXPECT_EQ(onVeth0, veth0.dwIndex);
  EXPECT_EQ(onLoopback, lo.dwIndex);
}

TEST_F(NetnsTest, ChangeTestSeesInterfacesAddedManagedOrNot) {
  std::unique_ptr<crv::CIFTable> kept = TakeSnapshot();
  EXPECT_FALSE(crv::HasTableChangedSince(*kept)) << "unchanged table" << TableText(*kept);

  ASSERT_TRUE(Shell("ip link add crvadd0 type veth peer name crvadd1"));
  EXPECT_TRUE(crv::HasTableChangedSince(*kept));
  std::unique_ptr<crv::CIFTable> grown = TakeSnapshot();
  EXPECT_EQ(grown->GetRowCount(), kept->GetRowCount() + 2) << TableText(*grown);
  for (const char* name : {"crvadd0", "crvadd1"}) {
    int i = FindRow(*grown, name);
    ASSERT_GE(i, 0) << name << TableText(*grown);
    // Down, but with its MTU: managed.
    EXPECT_EQ(grown->GetRow(i).dwOperStatus, 0u) << name;
    EXPECT_TRUE(grown->IsManagedInterface(i)) << name;
  }
  EXPECT_FALSE(crv::HasTableChangedSince(*grown));

  // A new row the filter rejects still changes the row count, and so the table.
  ASSERT_TRUE(Shell("ip tuntap add dev Virtual0 mode tap"));
  EXPECT_TRUE(crv::HasTableChangedSince(*grown));
  std::unique_ptr<crv::CIFTable> withVirtual = TakeSnapshot();
  int virtualRow = FindRow(*withVirtual, "Virtual0");
  ASSERT_GE(virtualRow, 0) << TableText(*withVirtual);
  EXPECT_EQ(withVirtual->GetRow(virtualRow).dwType, platform::kIfTypeEthernetCsmacd);
  EXPECT_NE(withVirtual->GetRow(virtualRow).dwMtu, 0u);
  EXPECT_FALSE(withVirtual->IsManagedInterface(virtualRow));
}

TEST_F(NetnsTest, ChangeTestIgnoresTrafficCounters) {
  std::unique_ptr<crv::CIFTable> kept = TakeSnapshot();
  int veth0 = FindRow(*kept, "veth0");
  int veth1 = FindRow(*kept, "veth1");
  ASSERT_GE(veth0, 0);
  ASSERT_GE(veth1, 0);

  // 20 datagrams of 200 bytes from veth0 to the address that resolves to veth1.
  SOCKET sender = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  ASSERT_NE(sender, INVALID_SOCKET) << WSAGetLastError();
  sockaddr_in from = {};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(0x0A4D0001);  // 10.77.0.1
  ASSERT_EQ(bind(sender, reinterpret_cast<sockaddr*>(&from), sizeof from), 0) << WSAGetLastError();
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(9);
  to.sin_addr.s_addr = htonl(0x0A4D0002);  // 10.77.0.2
  const char payload[200] = {};
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(
        sendto(sender, payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
        static_cast<int>(sizeof payload))
        << WSAGetLastError();
  }
  closesocket(sender);

  std::unique_ptr<crv::CIFTable> after = TakeSnapshot();
  ASSERT_EQ(after->GetRowCount(), kept->GetRowCount());
  // Unsigned differences: the counters are 32 bits and may wrap.
  const MibIfRow& sent0 = kept->GetRow(veth0);
  const MibIfRow& sent1 = after->GetRow(veth0);
  const MibIfRow& received0 = kept->GetRow(veth1);
  const MibIfRow& received1 = after->GetRow(veth1);
  EXPECT_GE(sent1.dwOutOctets - sent0.dwOutOctets, 20u * 200u);
  EXPECT_GE(sent1.dwOutUcastPkts - sent0.dwOutUcastPkts, 20u);
  EXPECT_GE(received1.dwInOctets - received0.dwInOctets, 20u * 200u);
  EXPECT_GE(received1.dwInUcastPkts - received0.dwInUcastPkts, 20u);

  EXPECT_FALSE(crv::HasTableChangedSince(*kept));
}

// The adapter name (the GUID in braces) that the adapter addresses give an interface index.
std::u16string AdapterNameOf(uint32_t ifIndex) {
  platform::IpHelper& ipHelper = *platform::Os().ipHelper;
  uint32_t size = 0;
  if (ipHelper.GetAdaptersAddresses(0, 0, nullptr, &size) != ERROR_BUFFER_OVERFLOW) return {};
  std::vector<uint64_t> buffer(size / sizeof(uint64_t) + 1);
  auto* first = reinterpret_cast<platform::IpAdapterAddresses*>(buffer.data());
  if (ipHelper.GetAdaptersAddresses(0, 0, first, &size) != 0) return {};
  for (auto* a = first; a != nullptr; a = a->Next) {
    if (a->IfIndex == ifIndex && a->AdapterName != nullptr) {
      std::string name = a->AdapterName;
      return std::u16string(name.begin(), name.end());
    }
  }
  return {};
}

// The agent's discovery against Wine: a miniport opened on a real \\.\{GUID}, which answers
// the medium and the two station addresses and nothing else, and the miniport and PnP lists
// built from Wine's device lists, which hold no network adapter. It runs before the removal
// test, which restarts Wine's network driver host and with it the NDIS devices.
TEST_F(NetnsTest, MiniportOnARealAdapterAndDiscoveryOnEmptyDeviceLists) {
  std::unique_ptr<crv::CIFTable> table = TakeSnapshot();
  int row = FindRow(*table, "veth0");
  ASSERT_GE(row, 0) << TableText(*table);
  const MibIfRow& veth0 = table->GetRow(row);
  std::u16string guid = AdapterNameOf(veth0.dwIndex);
  ASSERT_FALSE(guid.empty());
  std::u16string device = u"\\\\.\\" + guid;
  crv::CMiniport miniport;
  ASSERT_EQ(
      miniport.Init(u"", sizeof(char16_t), device.c_str(), (device.size() + 1) * sizeof(char16_t)),
      0u);
  EXPECT_EQ(miniport.Medium(), 0u);
  uint8_t current[6] = {}, permanent[6] = {};
  ASSERT_TRUE(miniport.GetCurrentAddress(current, 6));
  ASSERT_TRUE(miniport.GetPermanentAddress(permanent, 6));
  EXPECT_EQ(std::memcmp(current, veth0.bPhysAddr, 6), 0);
  EXPECT_EQ(std::memcmp(permanent, veth0.bPhysAddr, 6), 0);
  EXPECT_TRUE(miniport.MatchCurrentAddress(veth0.bPhysAddr, veth0.dwPhysAddrLen));

  // Wine does not answer the connect status: unknown, and the question is not asked again.
  uint32_t link = 0;
  EXPECT_NE(miniport.GetLinkStatus(&link), 0u);
  EXPECT_EQ(link, crv::kLinkUnknown);
  EXPECT_FALSE(miniport.ConnectStatusSupported());
  link = 0;
  EXPECT_EQ(miniport.GetLinkStatus(&link), 0u);
  EXPECT_EQ(link, crv::kLinkUnknown);

  crv::CMiniportList miniports;
  EXPECT_EQ(miniports.Init(), static_cast<uint32_t>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(miniports.Count(), 0u);
  crv::CWin32NetAdapterList pnp;
  EXPECT_TRUE(pnp.Init());
  EXPECT_EQ(pnp.Count(), 0u);
}

TEST_F(NetnsTest, ChangeTestAfterInterfacesAreRemoved) {
  ASSERT_TRUE(
      Shell("ip link add crvdel0 type veth peer name crvdel1 && ip link set crvdel0 up && "
            "ip link set crvdel1 up"));
  std::unique_ptr<crv::CIFTable> kept = TakeSnapshot();
  for (const char* name : {"crvdel0", "crvdel1"}) {
    int i = FindRow(*kept, name);
    ASSERT_GE(i, 0) << name << TableText(*kept);
    EXPECT_TRUE(kept->IsManagedInterface(i)) << name;
  }

  ASSERT_TRUE(Shell("ip link del crvdel0"));  // and its peer with it
  // Wine still lists them, with MTU 0: the filter drops them, the remaining managed rows match,
  // and the table counts as unchanged.
  std::unique_ptr<crv::CIFTable> stale = TakeSnapshot();
  ASSERT_EQ(stale->GetRowCount(), kept->GetRowCount()) << TableText(*stale);
  for (const char* name : {"crvdel0", "crvdel1"}) {
    int i = FindRow(*stale, name);
    ASSERT_GE(i, 0) << name;
    EXPECT_EQ(stale->GetRow(i).dwMtu, 0u) << name;
    EXPECT_EQ(stale->GetRow(i).dwOperStatus, 0u) << name;
    EXPECT_FALSE(stale->IsManagedInterface(i)) << name;
  }
  EXPECT_FALSE(crv::HasTableChangedSince(*kept));

  // Once the table no longer lists them, as on Windows at once, the row count differs.
  RestartWineNetworkDriver();
  if (HasFatalFailure()) return;
  std::unique_ptr<crv::CIFTable> fresh = TakeSnapshot();
  EXPECT_EQ(fresh->GetRowCount(), kept->GetRowCount() - 2) << TableText(*fresh);
  EXPECT_LT(FindRow(*fresh, "crvdel0"), 0);
  EXPECT_TRUE(crv::HasTableChangedSince(*kept));
  EXPECT_FALSE(crv::HasTableChangedSince(*fresh));
}

// Wine lists no network adapter through the configuration manager, so no miniport answers
// and a build fails as it does on a machine without network adapters; nothing is left.
TEST_F(NetnsTest, BuildFailsWithoutMiniportsAndLeavesNoTree) {
  crv::State().pollInterval = 120000;
  {
    crv::CTrap trap;
    crv::CIFList list;
    EXPECT_EQ(list.Build(&trap), static_cast<uint32_t>(ERROR_NOT_ENOUGH_MEMORY));
  }
  EXPECT_FALSE(KeyExists(kTreeKey));
}

// What a built list writes, done by the tree writers themselves: keys, Status and the
// revisions, then one cycle's summary values.
void PublishTreeAsABuildDoes() {
  crv::SoftwareRevisionsRecord revisions{};
  revisions.revisionMark = crv::kSoftwareRevisionMark;
  revisions.separator = crv::kSoftwareRevisionSeparator;
  ASSERT_EQ(crv::CreateTree(false), 0u);
  crv::PublishStatus(revisions);
}

void PublishCycleSummary() {
  crv::WriteDwordValue(crv::kInterfaceKeyPath, crv::kInterfaceDataReadyValue, 0);
  crv::WriteDwordValue(crv::kInterfaceKeyPath, crv::kInterfaceDataReadyValue, 1);
  crv::IfTableInformationRecord overall{crv::kConditionOther};
  crv::MibStatsRecord mib{crv::kMibStatsHeaderMark, overall.overallCondition, 120};
  crv::WriteValue(crv::kInterfaceKeyPath, crv::kIfTableInformationValue, REG_BINARY, &overall,
                  sizeof overall);
  crv::WriteValue(crv::kInterfaceKeyPath, crv::kMibStatsValue, REG_BINARY, &mib, sizeof mib);
}

TEST_F(NetnsTest, TreeIsPublishedAndDeletedInTheRealRegistry) {
  ASSERT_FALSE(KeyExists(kTreeKey)) << "a tree is left from before";
  crv::State().pollInterval = 120000;
  {
    PublishTreeAsABuildDoes();
    if (HasFatalFailure()) return;

    EXPECT_EQ(ReadDword(kTreeKey, L"Status"), 1u);
    std::optional<RegistryValue> revisions = ReadValue(kInterfaceKey, L"SoftwareRevisions");
    ASSERT_TRUE(revisions);
    EXPECT_EQ(revisions->type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(revisions->data.size(), 3973u);
    EXPECT_EQ(revisions->data[0], 1);
    EXPECT_EQ(revisions->data[1], '.');
    EXPECT_EQ(std::count(revisions->data.begin(), revisions->data.end(), 0), 3971);
    EXPECT_FALSE(ReadValue(kInterfaceKey, L"InterfaceData_Ready")) << "written before a cycle";

    std::vector<std::wstring> keys = {kTreeKey, kInterfaceKey,
                                      std::wstring(kInterfaceKey) + L"\\LogInterfaceMap",
                                      std::wstring(kInterfaceKey) + L"\\PhysInterface",
                                      std::wstring(kInterfaceKey) + L"\\VlanInterface"};
    EXPECT_FALSE(KeyExists(kEthernetKey));
    for (const std::wstring& key : keys) {
      EXPECT_EQ(CreateOrdinarySubkey(key), ERROR_CHILD_MUST_BE_VOLATILE)
          << std::string(key.begin(), key.end());
    }

    PublishCycleSummary();
    EXPECT_EQ(ReadDword(kInterfaceKey, L"InterfaceData_Ready"), 1u);
    std::optional<RegistryValue> overall = ReadValue(kInterfaceKey, L"IfTableInformation");
    ASSERT_TRUE(overall);
    ASSERT_EQ(overall->data.size(), 1u);
    EXPECT_GE(overall->data[0], 1);
    std::optional<RegistryValue> mib = ReadValue(kInterfaceKey, L"MibStats");
    ASSERT_TRUE(mib);
    ASSERT_EQ(mib->data.size(), 6u);
    EXPECT_EQ(mib->data[0], 18);
    EXPECT_EQ(mib->data[1], overall->data[0]);
    uint32_t seconds;
    std::memcpy(&seconds, &mib->data[2], 4);
    EXPECT_EQ(seconds, 120u);

    // The management service's view, read from the live registry.
    ProcessResult dump = RunProgram(BinaryPath(L"tessar-dump.exe"), L"");
    ASSERT_TRUE(dump.finished);
    EXPECT_EQ(dump.exitCode, 0u) << dump.output;
    for (const char* expected :
         {"[SYSTEM\\TessarNetwork]", "Status = 1", "[SYSTEM\\TessarNetwork\\Interface]",
          "InterfaceData_Ready = 1", "MibStats  (REG_BINARY, 6 bytes: MIB header record)",
          "pollIntervalSeconds", "SoftwareRevisions  (REG_BINARY, 3973 bytes", "LogInterfaceMap]",
          "PhysInterface]", "VlanInterface]"}) {
      EXPECT_NE(dump.output.find(expected), std::string::npos) << expected << " in\n"
                                                               << dump.output;
    }
    EXPECT_EQ(dump.output.find("problem"), std::string::npos) << dump.output;
    ProcessResult json = RunProgram(BinaryPath(L"tessar-dump.exe"), L"--json");
    ASSERT_TRUE(json.finished);
    EXPECT_EQ(json.exitCode, 0u) << json.output;
    EXPECT_NE(json.output.find("\"pollIntervalSeconds\": 120"), std::string::npos) << json.output;
    crv::DeleteTree(false);
  }
  // Deleting the tree takes every value with it.
  EXPECT_FALSE(KeyExists(kTreeKey));
  ProcessResult dump = RunProgram(BinaryPath(L"tessar-dump.exe"), L"");
  EXPECT_NE(dump.output.find("holds no tree"), std::string::npos) << dump.output;
}

// Run on its own by netns-steps.sh, which then ends and restarts the wine server: leaves a
// published tree, and an ordinary key beside it, for the restart to act on.
TEST_F(NetnsTest, DISABLED_LeaveTreePublished) {
  crv::State().pollInterval = 120000;
  PublishTreeAsABuildDoes();  // and never deleted: the tree must outlive the process
  if (HasFatalFailure()) return;
  PublishCycleSummary();
  ASSERT_EQ(ReadDword(kInterfaceKey, L"InterfaceData_Ready"), 1u);
  HKEY control = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\CrvNetnsControl", 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &control, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(control);
}

}  // namespace
}  // namespace crvtest

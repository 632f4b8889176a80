// The Win32 platform against the real system: the answers the agent relies on, and which the
// simulated server reproduces, are the ones Windows (here Wine) gives through the backend.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "host_runner.h"
#include "platform/platform.h"
#include "platform/win32/win32_platform.h"

namespace crvtest {
namespace {

using namespace platform;

class Win32PlatformTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { win32::InstallWin32Platform(); }
  Registry& registry() { return *Os().registry; }
  Kernel& kernel() { return *Os().kernel; }
};

constexpr char16_t kTestRoot[] = u"SYSTEM\\CrvWin32PlatformTest";

TEST_F(Win32PlatformTest, PredefinedKeyIsTheSdksAndMissingKeysAnswerNotFound) {
  EXPECT_EQ(win32::ToSdk(kHkeyLocalMachine), HKEY_LOCAL_MACHINE);
  RegKey key = win32::FromSdk(HKEY(1));
  EXPECT_EQ(registry().OpenKeyEx(kHkeyLocalMachine, u"SYSTEM\\NoSuchKey", 0, kKeyRead, &key),
            static_cast<int32_t>(kErrorFileNotFound));
  EXPECT_EQ(key, nullptr);
}

TEST_F(Win32PlatformTest, VolatileKeysValuesAndEnumeration) {
  RegKey root = nullptr;
  uint32_t disposition = 0;
  ASSERT_EQ(registry().CreateKeyEx(kHkeyLocalMachine, kTestRoot, nullptr, kRegOptionVolatile,
                                   kKeyAllAccess, &root, &disposition),
            0);
  EXPECT_EQ(disposition, kRegCreatedNewKey);

  RegKey child = nullptr;
  ASSERT_EQ(registry().CreateKeyEx(root, u"Alpha", nullptr, kRegOptionVolatile, kKeyAllAccess,
                                   &child, &disposition),
            0);
  registry().CloseKey(child);
  ASSERT_EQ(registry().CreateKeyEx(root, u"Alpha", nullptr, kRegOptionVolatile, kKeyAllAccess,
                                   &child, nullptr),
            0);
  registry().CloseKey(child);
  RegKey stable = nullptr;
  EXPECT_EQ(registry().CreateKeyEx(root, u"Stable", nullptr, kRegOptionNonVolatile, kKeyAllAccess,
                                   &stable, &disposition),
            static_cast<int32_t>(kErrorChildMustBeVolatile));
  EXPECT_EQ(stable, nullptr);
  ASSERT_EQ(registry().CreateKeyEx(root, u"Beta\\Gamma", nullptr, kRegOptionVolatile, kKeyAllAccess,
                                   &child, &disposition),
            0);
  registry().CloseKey(child);

  // A DWORD value: size query, too small a buffer, the value, a missing value.
  const uint32_t timeout = 45000;
  ASSERT_EQ(registry().SetValueEx(root, u"Timeout", kRegDword,
                                  reinterpret_cast<const uint8_t*>(&timeout), sizeof(timeout)),
            0);
  uint32_t type = 0;
  uint32_t size = 0;
  EXPECT_EQ(registry().QueryValueEx(root, u"Timeout", &type, nullptr, &size), 0);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(size, 4u);
  uint8_t small[2];
  size = sizeof(small);
  EXPECT_EQ(registry().QueryValueEx(root, u"Timeout", &type, small, &size),
            static_cast<int32_t>(kErrorMoreData));
  EXPECT_EQ(size, 4u);
  uint32_t read = 0;
  size = sizeof(read);
  EXPECT_EQ(
      registry().QueryValueEx(root, u"Timeout", nullptr, reinterpret_cast<uint8_t*>(&read), &size),
      0);
  EXPECT_EQ(read, timeout);
  EXPECT_EQ(registry().QueryValueEx(root, u"Missing", &type, nullptr, &size),
            static_cast<int32_t>(kErrorFileNotFound));

  // Values enumerate with their types and sizes, names without the terminator. (Wine lists
  // them by name; Windows in the order they were set.)
  const char16_t text[] = u"eth0";
  ASSERT_EQ(registry().SetValueEx(root, u"Name", kRegSz, reinterpret_cast<const uint8_t*>(text),
                                  sizeof(text)),
            0);
  char16_t name[kMaxKeyNameLength + 1];
  uint32_t length = 0;
  std::map<std::u16string, std::pair<uint32_t, uint32_t>> values;  // name: type, size
  for (uint32_t index = 0;; ++index) {
    length = kMaxKeyNameLength + 1;
    size = 0;
    int32_t status = registry().EnumValue(root, index, name, &length, &type, nullptr, &size);
    if (status != 0) {
      EXPECT_EQ(status, static_cast<int32_t>(kErrorNoMoreItems));
      EXPECT_EQ(index, 2u);
      break;
    }
    values[std::u16string(name, length)] = {type, size};
  }
  EXPECT_EQ(values, (std::map<std::u16string, std::pair<uint32_t, uint32_t>>{
                        {u"Name", {kRegSz, sizeof(text)}}, {u"Timeout", {kRegDword, 4}}}));
  length = 2;
  EXPECT_EQ(registry().EnumValue(root, 0, name, &length, nullptr, nullptr, nullptr),
            static_cast<int32_t>(kErrorMoreData));
  length = kMaxKeyNameLength + 1;
  size = 2;
  EXPECT_EQ(registry().EnumValue(root, 0, name, &length, &type, small, &size),
            static_cast<int32_t>(kErrorMoreData));
  EXPECT_TRUE(size == sizeof(text) || size == 4u) << size;  // the size needed

  // Subkeys: lengths without the terminator, a short buffer, then the end.
  length = kMaxKeyNameLength + 1;
  FileTime written;
  ASSERT_EQ(registry().EnumKeyEx(root, 0, name, &length, &written), 0);
  EXPECT_EQ(std::u16string(name, length), u"Alpha");
  EXPECT_NE(written.high, 0u);
  length = 3;
  EXPECT_EQ(registry().EnumKeyEx(root, 1, name, &length, nullptr),
            static_cast<int32_t>(kErrorMoreData));
  length = kMaxKeyNameLength + 1;
  ASSERT_EQ(registry().EnumKeyEx(root, 1, name, &length, nullptr), 0);
  EXPECT_EQ(std::u16string(name, length), u"Beta");
  length = kMaxKeyNameLength + 1;
  EXPECT_EQ(registry().EnumKeyEx(root, 2, name, &length, nullptr),
            static_cast<int32_t>(kErrorNoMoreItems));

  // A key with subkeys cannot be deleted; leaves first, then the key.
  EXPECT_EQ(registry().DeleteKey(root, u"Beta"), static_cast<int32_t>(kErrorAccessDenied));
  EXPECT_EQ(registry().DeleteKey(root, u"Beta\\Gamma"), 0);
  EXPECT_EQ(registry().DeleteKey(root, u"Beta"), 0);
  EXPECT_EQ(registry().DeleteKey(root, u"Alpha"), 0);
  EXPECT_EQ(registry().DeleteKey(kHkeyLocalMachine, kTestRoot), 0);
  // The open handle now refers to a deleted key.
  EXPECT_EQ(registry().SetValueEx(root, u"Late", kRegDword,
                                  reinterpret_cast<const uint8_t*>(&timeout), sizeof(timeout)),
            static_cast<int32_t>(kErrorKeyDeleted));
  EXPECT_EQ(registry().CloseKey(root), 0);
}

TEST_F(Win32PlatformTest, NamedEventsAndWaits) {
  Handle first = kernel().CreateEvent(false, false, u"CrvWin32PlatformTestEvent");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(kernel().GetLastError(), kErrorSuccess);
  Handle again = kernel().CreateEvent(false, false, u"CrvWin32PlatformTestEvent");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(kernel().GetLastError(), kErrorAlreadyExists);
  Handle other = kernel().CreateEvent(true, false, nullptr);
  ASSERT_NE(other, nullptr);

  const Handle both[] = {other, first};
  EXPECT_EQ(kernel().WaitForMultipleObjects(2, both, false, 10), kWaitTimeout);
  // Setting the event through the second handle wakes a wait on the first.
  EXPECT_TRUE(kernel().SetEvent(again));
  EXPECT_EQ(kernel().WaitForMultipleObjects(2, both, false, 1000), kWaitObject0 + 1);
  // Auto-reset: the wait consumed it.
  EXPECT_EQ(kernel().WaitForMultipleObjects(2, both, false, 0), kWaitTimeout);
  kernel().SetLastError(0);
  Handle many[kMaximumWaitObjects + 1] = {};
  EXPECT_EQ(kernel().WaitForMultipleObjects(kMaximumWaitObjects + 1, many, false, 0), kWaitFailed);
  EXPECT_EQ(kernel().GetLastError(), kErrorInvalidParameter);

  EXPECT_TRUE(kernel().CloseHandle(first));
  EXPECT_TRUE(kernel().CloseHandle(again));
  EXPECT_TRUE(kernel().CloseHandle(other));
  EXPECT_FALSE(OpenEventW(SYNCHRONIZE, FALSE, L"CrvWin32PlatformTestEvent"));
}

struct ThreadProbe {
  Handle done;
  uint32_t threadId;
};

TEST_F(Win32PlatformTest, ThreadsStartWithTheirArgumentAndEndThemselves) {
  ThreadProbe probe = {kernel().CreateEvent(true, false, nullptr), 0};
  ASSERT_NE(probe.done, nullptr);
  uintptr_t thread = kernel().BeginThread(
      [](void* argument) {
        auto* probe = static_cast<ThreadProbe*>(argument);
        Kernel& kernel = *Os().kernel;
        probe->threadId = kernel.GetCurrentThreadId();
        kernel.SetEvent(probe->done);
        kernel.EndThread();
      },
      0, &probe);
  ASSERT_NE(thread, kBeginThreadFailed);
  ASSERT_EQ(kernel().WaitForMultipleObjects(1, &probe.done, false, 10000), kWaitObject0);
  EXPECT_NE(probe.threadId, 0u);
  EXPECT_NE(probe.threadId, kernel().GetCurrentThreadId());
  kernel().CloseHandle(probe.done);
}

TEST_F(Win32PlatformTest, ModuleFileNameIsThisExecutableCutToTheBuffer) {
  char16_t path[1024];
  uint32_t length = kernel().GetModuleFileName(path, 1024);
  const std::wstring expected = BinaryPath(L"crv_windows_tests.exe");
  ASSERT_EQ(length, expected.size());
  EXPECT_EQ(std::memcmp(path, expected.c_str(), length * sizeof(char16_t)), 0);

  char16_t cut[8];
  EXPECT_EQ(kernel().GetModuleFileName(cut, 8), 8u);
  EXPECT_EQ(std::u16string(cut), std::u16string(path, 7));
  EXPECT_EQ(kernel().GetLastError(), kErrorInsufficientBuffer);
}

TEST_F(Win32PlatformTest, InterfaceTablesAnswerTheSizeFirst) {
  IpHelper& ip = *Os().ipHelper;
  uint32_t size = 0;
  ASSERT_EQ(ip.GetIfTable(nullptr, &size, false), kErrorInsufficientBuffer);
  ASSERT_GE(size, MibIfTableSize(1));
  std::string ifBuffer(size, '\0');
  auto* interfaces = reinterpret_cast<MibIfTable*>(ifBuffer.data());
  ASSERT_EQ(ip.GetIfTable(interfaces, &size, true), kErrorSuccess);
  const MibIfRow* loopback = nullptr;
  for (uint32_t i = 0; i < interfaces->dwNumEntries; ++i) {
    if (interfaces->table[i].dwType == kIfTypeSoftwareLoopback) loopback = &interfaces->table[i];
  }
  ASSERT_NE(loopback, nullptr) << "no loopback row among " << interfaces->dwNumEntries;
  MibIfRow row = {};
  row.dwIndex = loopback->dwIndex;
  ASSERT_EQ(ip.GetIfEntry(&row), kErrorSuccess);
  EXPECT_EQ(row.dwType, kIfTypeSoftwareLoopback);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(row.bDescr), row.dwDescrLen),
            std::string(reinterpret_cast<const char*>(loopback->bDescr), loopback->dwDescrLen));

  size = 0;
  ASSERT_EQ(ip.GetIpAddrTable(nullptr, &size, false), kErrorInsufficientBuffer);
  std::string addrBuffer(size, '\0');
  auto* addresses = reinterpret_cast<MibIpAddrTable*>(addrBuffer.data());
  ASSERT_EQ(ip.GetIpAddrTable(addresses, &size, false), kErrorSuccess);
  bool found = false;
  for (uint32_t i = 0; i < addresses->dwNumEntries; ++i) {
    // 127.0.0.1 in network byte order, on the loopback interface.
    if (addresses->table[i].dwAddr == 0x0100007Fu) {
      found = true;
      EXPECT_EQ(addresses->table[i].dwIndex, loopback->dwIndex);
    }
  }
  EXPECT_TRUE(found);

  size = 0;
  ASSERT_EQ(ip.GetAdaptersAddresses(kAfInet, 0, nullptr, &size), kErrorBufferOverflow);
  std::string adapterBuffer(size, '\0');
  auto* adapters = reinterpret_cast<IpAdapterAddresses*>(adapterBuffer.data());
  ASSERT_EQ(ip.GetAdaptersAddresses(kAfInet, 0, adapters, &size), kErrorSuccess);
  bool loopbackListed = false;
  for (const IpAdapterAddresses* a = adapters; a != nullptr; a = a->Next) {
    if (a->IfIndex == loopback->dwIndex) loopbackListed = a->FirstUnicastAddress != nullptr;
  }
  EXPECT_TRUE(loopbackListed);
}

TEST_F(Win32PlatformTest, WinsockConvertsAddressesBothWays) {
  IpHelper& ip = *Os().ipHelper;
  ASSERT_EQ(ip.WSAStartup(0x0202), 0);
  struct {
    uint16_t family;
    uint16_t port;
    uint8_t address[4];
    uint8_t zero[8];
  } ipv4 = {kAfInet, 0, {}, {}};
  EXPECT_EQ(ip.InetPton(kAfInet, u"192.0.2.17", ipv4.address), 1);
  EXPECT_EQ(std::memcmp(ipv4.address, "\xC0\x00\x02\x11", 4), 0);
  uint8_t unused[16];
  EXPECT_EQ(ip.InetPton(kAfInet, u"fe80::1", unused), 0);

  char16_t text[64];
  uint32_t length = 64;
  ASSERT_EQ(ip.WSAAddressToString(&ipv4, sizeof(ipv4), text, &length), 0);
  EXPECT_EQ(std::u16string(text), u"192.0.2.17");
  EXPECT_EQ(ip.WSACleanup(), 0);
}

TEST_F(Win32PlatformTest, CodePageConversionsCountAndFill) {
  CodePage& codePage = *Os().codePage;
  EXPECT_EQ(codePage.MultiByteToWideChar(kCpAcp, 0, "Port 1", -1, nullptr, 0), 7);
  char16_t wide[7];
  ASSERT_EQ(codePage.MultiByteToWideChar(kCpAcp, 0, "Port 1", -1, wide, 7), 7);
  EXPECT_EQ(std::u16string(wide), u"Port 1");

  char narrow[7];
  EXPECT_EQ(codePage.WideCharToMultiByte(kCpAcp, 0, u"Port 1", -1, narrow, 7), 7);
  EXPECT_STREQ(narrow, "Port 1");
  EXPECT_EQ(codePage.WideCharToMultiByte(kCpAcp, 0, u"Port 1", -1, narrow, 3), 0);
  EXPECT_EQ(kernel().GetLastError(), kErrorInsufficientBuffer);
}

}  // namespace
}  // namespace crvtest

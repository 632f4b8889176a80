// The Win32 platform against the real system: the answers the agent relies on, and which the
// simulated server reproduces, are the ones Windows (here Wine) gives through the backend.
#include <gtest/gtest.h>

#include <cstring>
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

TEST_F(Win32PlatformTest, MissingKeysAnswerNotFoundWithANullKey) {
  RegKey key = win32::FromSdk(HKEY(1));
  EXPECT_EQ(registry().OpenKeyEx(kHkeyLocalMachine, u"SYSTEM\\NoSuchKey", 0, kKeyRead, &key),
            static_cast<int32_t>(kErrorFileNotFound));
  EXPECT_EQ(key, nullptr);
}

TEST_F(Win32PlatformTest, VolatileKeysValuesAndEnumeration) {
  auto create = [&](RegKey parent, const char16_t* path, uint32_t options, uint32_t* disposition) {
    RegKey key = nullptr;
    int32_t status =
        registry().CreateKeyEx(parent, path, nullptr, options, kKeyAllAccess, &key, disposition);
    if (parent != kHkeyLocalMachine && key != nullptr) registry().CloseKey(key);
    return std::make_pair(status, key);
  };
  uint32_t disposition = 0;
  auto [created, root] = create(kHkeyLocalMachine, kTestRoot, kRegOptionVolatile, &disposition);
  ASSERT_EQ(created, 0);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  ASSERT_EQ(create(root, u"Alpha", kRegOptionVolatile, nullptr).first, 0);
  ASSERT_EQ(create(root, u"Alpha", kRegOptionVolatile, &disposition).first, 0);
  EXPECT_EQ(disposition, kRegOpenedExistingKey);
  EXPECT_EQ(create(root, u"Stable", kRegOptionNonVolatile, nullptr),
            std::make_pair(static_cast<int32_t>(kErrorChildMustBeVolatile), RegKey{}));
  ASSERT_EQ(create(root, u"Beta\\Gamma", kRegOptionVolatile, nullptr).first, 0);

  // A DWORD value: size query, too small a buffer, the value, a missing value.
  const uint32_t timeout = 45000;
  const auto* timeoutBytes = reinterpret_cast<const uint8_t*>(&timeout);
  ASSERT_EQ(registry().SetValueEx(root, u"Timeout", kRegDword, timeoutBytes, 4), 0);
  uint32_t type = 0, size = 0, read = 0;
  EXPECT_EQ(registry().QueryValueEx(root, u"Timeout", &type, nullptr, &size), 0);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(size, 4u);
  uint8_t small[2];
  size = sizeof(small);
  EXPECT_EQ(registry().QueryValueEx(root, u"Timeout", &type, small, &size),
            static_cast<int32_t>(kErrorMoreData));
  EXPECT_EQ(size, 4u);
  size = 4;
  EXPECT_EQ(
      registry().QueryValueEx(root, u"Timeout", nullptr, reinterpret_cast<uint8_t*>(&read), &size),
      0);
  EXPECT_EQ(read, timeout);
  EXPECT_EQ(registry().QueryValueEx(root, u"Missing", &type, nullptr, &size),
            static_cast<int32_t>(kErrorFileNotFound));

  // Values enumerate up to their count; a short name or data buffer answers more data, with
  // the size needed. (The order differs: Wine lists them by name, Windows as they were set.)
  const char16_t text[] = u"eth0";
  ASSERT_EQ(registry().SetValueEx(root, u"Name", kRegSz, reinterpret_cast<const uint8_t*>(text),
                                  sizeof(text)),
            0);
  char16_t name[kMaxKeyNameLength + 1];
  uint32_t length = kMaxKeyNameLength + 1;
  ASSERT_EQ(registry().EnumValue(root, 1, name, &length, &type, nullptr, &size), 0);
  length = kMaxKeyNameLength + 1;
  EXPECT_EQ(registry().EnumValue(root, 2, name, &length, &type, nullptr, &size),
            static_cast<int32_t>(kErrorNoMoreItems));
  length = 2;
  EXPECT_EQ(registry().EnumValue(root, 0, name, &length, nullptr, nullptr, nullptr),
            static_cast<int32_t>(kErrorMoreData));
  length = kMaxKeyNameLength + 1;
  size = 2;
  EXPECT_EQ(registry().EnumValue(root, 0, name, &length, &type, small, &size),
            static_cast<int32_t>(kErrorMoreData));
  EXPECT_TRUE(size == sizeof(text) || size == 4u) << size;  // the size needed

  // Subkeys: lengths without the terminator (in with it: "Beta" needs 5), then the end.
  length = kMaxKeyNameLength + 1;
  FileTime written;
  ASSERT_EQ(registry().EnumKeyEx(root, 0, name, &length, &written), 0);
  EXPECT_EQ(std::u16string(name, length), u"Alpha");
  EXPECT_NE(written.high, 0u);
  length = 4;
  EXPECT_EQ(registry().EnumKeyEx(root, 1, name, &length, nullptr),
            static_cast<int32_t>(kErrorMoreData));
  length = 5;
  ASSERT_EQ(registry().EnumKeyEx(root, 1, name, &length, nullptr), 0);
  EXPECT_EQ(std::u16string(name, length), u"Beta");
  length = kMaxKeyNameLength + 1;
  EXPECT_EQ(registry().EnumKeyEx(root, 2, name, &length, nullptr),
            static_cast<int32_t>(kErrorNoMoreItems));

  // A key with subkeys cannot be deleted; leaves first, then the key. The open handle then
  // refers to a deleted key.
  EXPECT_EQ(registry().DeleteKey(root, u"Beta"), static_cast<int32_t>(kErrorAccessDenied));
  for (const char16_t* leaf : {u"Beta\\Gamma", u"Beta", u"Alpha"}) {
    EXPECT_EQ(registry().DeleteKey(root, leaf), 0);
  }
  EXPECT_EQ(registry().DeleteKey(kHkeyLocalMachine, kTestRoot), 0);
  EXPECT_EQ(registry().SetValueEx(root, u"Late", kRegDword, timeoutBytes, 4),
            static_cast<int32_t>(kErrorKeyDeleted));
  EXPECT_EQ(registry().CloseKey(root), 0);
}

TEST_F(Win32PlatformTest, NamedEventsAndWaits) {
  Handle first = kernel().CreateEvent(false, false, u"CrvWin32PlatformTestEvent");
  ASSERT_NE(first, nullptr);
  Handle again = kernel().CreateEvent(false, false, u"CrvWin32PlatformTestEvent");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(kernel().GetLastError(), kErrorAlreadyExists);
  Handle other = kernel().CreateEvent(true, false, nullptr);

  // Setting the event through the second handle wakes a wait on the first, and the wait
  // consumes it (auto-reset).
  const Handle both[] = {other, first};
  EXPECT_EQ(kernel().WaitForMultipleObjects(2, both, false, 10), kWaitTimeout);
  EXPECT_TRUE(kernel().SetEvent(again));
  EXPECT_EQ(kernel().WaitForMultipleObjects(2, both, false, 1000), kWaitObject0 + 1);
  EXPECT_EQ(kernel().WaitForMultipleObjects(2, both, false, 0), kWaitTimeout);
  Handle many[kMaximumWaitObjects + 1] = {};
  EXPECT_EQ(kernel().WaitForMultipleObjects(kMaximumWaitObjects + 1, many, false, 0), kWaitFailed);
  EXPECT_EQ(kernel().GetLastError(), kErrorInvalidParameter);
  for (Handle handle : {first, again, other}) EXPECT_TRUE(kernel().CloseHandle(handle));
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
  ASSERT_EQ(ip.WSAAddressToString(&ipv4, sizeof ipv4, text, &length), 0);
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

// The stand-in configuration manager against a small device tree seeded here, with the
// protocols and error codes the agent depends on: sizes first (characters for IDs and lists,
// bytes for properties), CR_BUFFER_SMALL with the size needed, present-only filters. Finding a
// device, its parent and its properties is the end-to-end run's. The stand-in is loaded by path
// from beside this program, as a test library, not in place of Wine's.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cfgmgr32.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kEnum[] = L"SYSTEM\\CurrentControlSet\\Enum\\";
constexpr wchar_t kNetClass[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t kLinks[] =
    L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{ad498944-762f-11d0-8dcb-00c04fc3358c}\\";
constexpr GUID kLanClass = {
    0xad498944, 0x762f, 0x11d0, {0x8d, 0xcb, 0x00, 0xc0, 0x4f, 0xc3, 0x35, 0x8c}};

// A started adapter, a second one never started, and a started device of another class.
constexpr wchar_t kPresent[] = L"CRVTESTBUS\\VEN_8086&DEV_1572\\4&AB&0&0018";
constexpr wchar_t kAbsent[] = L"CRVTESTBUS\\VEN_8086&DEV_1572\\4&AB&0&0019";
constexpr wchar_t kChild[] = L"CRVTESTBUS\\PORT\\5&77&0&1";
constexpr wchar_t kLinkPresent[] =
    L"##?#CRVTESTBUS#VEN_8086&DEV_1572#4&AB&0&0018#{ad498944-762f-11d0-8dcb-00c04fc3358c}";
constexpr wchar_t kLinkAbsent[] =
    L"##?#CRVTESTBUS#VEN_8086&DEV_1572#4&AB&0&0019#{ad498944-762f-11d0-8dcb-00c04fc3358c}";
constexpr wchar_t kPresentPath[] =
    L"\\\\?\\CRVTESTBUS#VEN_8086&DEV_1572#4&AB&0&0018#{ad498944-762f-11d0-8dcb-00c04fc3358c}"
    L"\\{11111111-2222-3333-4444-555555555555}";

constexpr CONFIGRET kOk = CR_SUCCESS;
constexpr CONFIGRET kSmall = CR_BUFFER_SMALL;

using LocateFn = CONFIGRET(WINAPI*)(PDEVINST, DEVINSTID_W, ULONG);
using ParentFn = CONFIGRET(WINAPI*)(PDEVINST, DEVINST, ULONG);
using DeviceIdFn = CONFIGRET(WINAPI*)(DEVINST, PWSTR, ULONG, ULONG);
using IdListSizeFn = CONFIGRET(WINAPI*)(PULONG, PCWSTR, ULONG);
using IdListFn = CONFIGRET(WINAPI*)(PCWSTR, PZZWSTR, ULONG, ULONG);
using PropertyFn = CONFIGRET(WINAPI*)(DEVINST, ULONG, PULONG, PVOID, PULONG, ULONG);
using InterfaceSizeFn = CONFIGRET(WINAPI*)(PULONG, LPGUID, DEVINSTID_W, ULONG);
using InterfaceListFn = CONFIGRET(WINAPI*)(LPGUID, DEVINSTID_W, PZZWSTR, ULONG, ULONG);

void SetText(const std::wstring& path, const wchar_t* name, const std::wstring& text,
             DWORD options = 0) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS)
      << "cannot create " << std::string(path.begin(), path.end());
  if (name != nullptr) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  RegCloseKey(key);
}

// An interface of the device whose link key is `link`, enabled or not.
void SetLinked(const wchar_t* link, const wchar_t* reference, DWORD linked) {
  const std::wstring path = std::wstring(kLinks) + link + L"\\#" + reference + L"\\Control";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, L"Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&linked),
                 sizeof linked);
  RegCloseKey(key);
}

std::vector<std::wstring> Split(const wchar_t* list) {
  std::vector<std::wstring> texts;
  for (; *list != L'\0'; list += wcslen(list) + 1) texts.emplace_back(list);
  return texts;
}

class StandInTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
    HMODULE module =
        LoadLibraryW((path.substr(0, path.rfind(L'\\') + 1) + L"cfgmgr32.dll").c_str());
    // Without WINEDLLOVERRIDES naming cfgmgr32 native, Wine hands out its own whatever the path
    // (and names it by that path); its own has the calls the stand-in leaves out.
    if (module != nullptr && GetProcAddress(module, "CM_Get_Child") == nullptr) module_ = module;
  }

  void SetUp() override {
    ASSERT_NE(module_, nullptr)
        << "the stand-in beside the test was not loaded (WINEDLLOVERRIDES=cfgmgr32=n,b?)";
    RemoveSeed();
    const std::wstring present = std::wstring(kEnum) + kPresent;
    SetText(present, L"ClassGUID", kNetClass);
    SetText(present, L"DeviceDesc", L"Test adapter");
    SetText(present + L"\\Control", L"ActiveService", L"i40ea", REG_OPTION_VOLATILE);
    SetText(std::wstring(kEnum) + kAbsent, L"ClassGUID", kNetClass);
    SetText(std::wstring(kEnum) + kChild, L"ClassGUID", L"{00000000-0000-0000-0000-000000000001}");
    SetText(std::wstring(kEnum) + kChild + L"\\Control", nullptr, L"", REG_OPTION_VOLATILE);

    SetText(std::wstring(kLinks) + kLinkPresent, L"DeviceInstance", kPresent);
    SetLinked(kLinkPresent, L"{11111111-2222-3333-4444-555555555555}", 1);
    SetLinked(kLinkPresent, L"{99999999-2222-3333-4444-555555555555}", 0);  // not enabled
    SetText(std::wstring(kLinks) + kLinkAbsent, L"DeviceInstance", kAbsent);
    SetLinked(kLinkAbsent, L"{88888888-2222-3333-4444-555555555555}", 1);
  }

  void TearDown() override { RemoveSeed(); }

  static void RemoveSeed() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kEnum) + L"CRVTESTBUS").c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kLinks) + kLinkPresent).c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kLinks) + kLinkAbsent).c_str());
  }

  template <typename Fn>
  static Fn Get(const char* name) {
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    EXPECT_NE(fn, nullptr) << name;
    return fn;
  }

  DEVINST Locate(const wchar_t* id) {
    DEVINST node = 0;
    EXPECT_EQ(Get<LocateFn>("CM_Locate_DevNodeW")(&node, const_cast<wchar_t*>(id), 0), kOk);
    return node;
  }

  static HMODULE module_;
};
HMODULE StandInTest::module_ = nullptr;

TEST_F(StandInTest, DeviceIdListIsSizedInCharactersAndFilteredByClassAndPresence) {
  auto size = Get<IdListSizeFn>("CM_Get_Device_ID_List_SizeW");
  auto list = Get<IdListFn>("CM_Get_Device_ID_ListW");
  const ULONG flags = CM_GETIDLIST_FILTER_CLASS | CM_GETIDLIST_FILTER_PRESENT;
  ULONG length = 0;
  ASSERT_EQ(size(&length, kNetClass, flags), kOk);
  ASSERT_GT(length, 1u);
  std::vector<wchar_t> buffer(length, L'#');
  ASSERT_EQ(list(kNetClass, buffer.data(), length, flags), kOk);
  auto ids = Split(buffer.data());
  EXPECT_EQ(std::ranges::count(ids, kPresent), 1);
  EXPECT_EQ(std::ranges::count(ids, kAbsent), 0) << "never started";
  EXPECT_EQ(std::ranges::count(ids, kChild), 0) << "of another class";
  size_t used = 1;
  for (const auto& id : ids) used += id.size() + 1;
  EXPECT_EQ(length, used) << "every text, its terminator and the list's";
  EXPECT_EQ(list(kNetClass, buffer.data(), length - 1, flags), kSmall);
}

// A device's ID (in characters), its parent and its properties (in bytes); absent or bad nodes.
TEST_F(StandInTest, ADeviceByItsIdAndAbsentOrBadNodes) {
  auto deviceId = Get<DeviceIdFn>("CM_Get_Device_IDW");
  auto parent = Get<ParentFn>("CM_Get_Parent");
  auto property = Get<PropertyFn>("CM_Get_DevNode_Registry_PropertyW");
  DEVINST node = 0;
  EXPECT_EQ(Get<LocateFn>("CM_Locate_DevNodeW")(&node, const_cast<wchar_t*>(kAbsent), 0),
            static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE));
  const DEVINST present = Locate(kPresent);
  wchar_t id[200];
  ASSERT_EQ(deviceId(present, id, ARRAYSIZE(id), 0), kOk);
  EXPECT_STREQ(id, kPresent);
  wchar_t small[8];
  EXPECT_EQ(deviceId(present, small, ARRAYSIZE(small), 0), kSmall);
  EXPECT_EQ(std::wstring(small, 8), std::wstring(kPresent, 8)) << "as much as fits";
  DEVINST root = 0;
  ASSERT_EQ(parent(&root, present, 0), kOk);
  EXPECT_EQ(parent(&node, root, 0), static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE));
  EXPECT_EQ(parent(&node, 0xDEAD, 0), static_cast<CONFIGRET>(CR_INVALID_DEVNODE));

  ULONG type = 0, length = 0;
  ASSERT_EQ(property(present, CM_DRP_DEVICEDESC, &type, nullptr, &length, 0), kSmall);
  EXPECT_EQ(length, sizeof(L"Test adapter"));
  wchar_t text[64] = {};
  length = sizeof text;
  ASSERT_EQ(property(present, CM_DRP_DEVICEDESC, &type, text, &length, 0), kOk);
  EXPECT_EQ(type, static_cast<ULONG>(REG_SZ));
  EXPECT_STREQ(text, L"Test adapter");
  EXPECT_EQ(length, sizeof(L"Test adapter"));
  length = sizeof text;
  EXPECT_EQ(property(present, CM_DRP_LOCATION_INFORMATION, &type, text, &length, 0),
            static_cast<CONFIGRET>(CR_NO_SUCH_VALUE));
}

TEST_F(StandInTest, InterfaceListHoldsEnabledInterfacesOfPresentDevices) {
  auto size = Get<InterfaceSizeFn>("CM_Get_Device_Interface_List_SizeW");
  auto list = Get<InterfaceListFn>("CM_Get_Device_Interface_ListW");
  GUID lan = kLanClass;
  wchar_t* const present = const_cast<wchar_t*>(kPresent);
  const ULONG flags = CM_GET_DEVICE_INTERFACE_LIST_PRESENT;
  ULONG length = 0;
  ASSERT_EQ(size(&length, &lan, present, flags), kOk);
  EXPECT_EQ(length, wcslen(kPresentPath) + 2) << "one path: its terminator and the list's";
  std::vector<wchar_t> buffer(length, L'#');
  ASSERT_EQ(list(&lan, present, buffer.data(), length, flags), kOk);
  EXPECT_EQ(Split(buffer.data()), std::vector<std::wstring>{kPresentPath});
  EXPECT_EQ(list(&lan, present, buffer.data(), length - 1, flags), kSmall);

  // The never-started device's enabled interface is not present.
  ASSERT_EQ(size(&length, &lan, const_cast<wchar_t*>(kAbsent), flags), kOk);
  EXPECT_EQ(length, 1u) << "an empty list";
  EXPECT_EQ(size(&length, &lan, const_cast<wchar_t*>(L"CRVTESTBUS\\NONE\\1"), flags),
            static_cast<CONFIGRET>(CR_INVALID_DEVICE_ID));
}

}  // namespace

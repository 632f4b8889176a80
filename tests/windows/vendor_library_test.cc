// The agent's vendor library operations with libraries loaded by the real loader: stand-ins
// (vendor_dlls/stand_in.cc) placed beside this program, found by the library search or as the
// library beside the agent's module (the agent's code is linked into this program), resolved,
// initialised with real one-second pauses, and unloaded. Each library writes its calls, and
// its attach to and detach from the process, into CRVSTANDIN_CALLS, so a test sees what the
// agent called and that FreeLibrary really unloaded it.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/text.h"
#include "common/utf.h"
#include "discovery/firmware_version.h"
#include "discovery/miniport.h"
#include "platform/platform.h"
#include "platform/win32/handles.h"
#include "platform/win32/win32_platform.h"
#include "vendor/bmapi_local.h"
#include "vendor/vendor_libraries.h"

namespace {

using Reports = std::vector<std::pair<std::string, uint32_t>>;

// A tick count read around a sleep may come out a little short of the sleep's length.
constexpr ULONGLONG kTickSlack = 20;

// The agent's reports, kept in order; the rest of the platform is the real one.
class RecordingDiagnostics final : public platform::Diagnostics {
 public:
  void Report(uint32_t, const char16_t* message, uint32_t value) override {
    reports.emplace_back(message != nullptr ? crv::Utf16ToUtf8(message) : "", value);
  }
  Reports reports;
};

std::wstring ProgramDirectory() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.find_last_of(L'\\'));
}

constexpr char16_t kGuid[] = u"{3F9A6C1E-52B7-4D08-9E41-7A2C5B0D8E13}";

class VendorLibraryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    platform::win32::InstallWin32Platform();
    platform::Platform set = platform::Os();
    set.diagnostics = &diagnostics_;
    platform::Install(set);
  }

  void SetUp() override {
    // A run that ended inside a test may have left a library beside the program.
    for (const wchar_t* name : {L"qlmapia", L"bmapia", L"bmapi"}) {
      DeleteFileW((ProgramDirectory() + L"\\" + name + L".dll").c_str());
    }
    crv::ResetVendorLibraries();
    for (const wchar_t* name : {L"CALLS", L"QLMAPIA", L"BMAPIA", L"BMAPI"}) Describe(name, nullptr);
    // No device answers this GUID: Init fails after keeping it, and the GUID is all the
    // library methods need.
    std::u16string device = std::u16string(u"\\\\.\\") + kGuid;
    miniport_.Init(u"", sizeof(char16_t), device.c_str(), (device.size() + 1) * sizeof(char16_t));
    crv::CopyBounded(miniport_.FirmwareVersion(), crv::CMiniport::kFirmwareVersionChars, u"old");
    diagnostics_.reports.clear();  // the failed Init's report of the device is no library's
  }

  void TearDown() override {
    for (const std::wstring& name : placed_) {
      EXPECT_EQ(GetModuleHandleW(name.c_str()), nullptr) << "still loaded";
      EXPECT_TRUE(DeleteFileW((ProgramDirectory() + L"\\" + name).c_str()));
    }
  }

  // Puts the stand-in variant's library beside this program, where the library search looks
  // first and the agent looks for bmapi.dll.
  void Place(const wchar_t* variant, const wchar_t* name) {
    std::wstring from = ProgramDirectory() + L"\\stand-ins\\" + variant + L"\\" + name;
    ASSERT_TRUE(CopyFileW(from.c_str(), (ProgramDirectory() + L"\\" + name).c_str(), FALSE))
        << GetLastError();
    placed_.push_back(name);
  }

  static void Describe(const wchar_t* library, const wchar_t* settings) {
    SetEnvironmentVariableW((std::wstring(L"CRVSTANDIN_") + library).c_str(), settings);
  }

  // The libraries' calls, each "library:entry=status", separated by blanks.
  static std::string Calls() {
    wchar_t text[32767];
    DWORD length = GetEnvironmentVariableW(L"CRVSTANDIN_CALLS", text, 32767);
    return std::string(text, text + (length < 32767 ? length : 0));
  }

  std::string Field() { return crv::Utf16ToUtf8(miniport_.FirmwareVersion()); }

  static RecordingDiagnostics diagnostics_;
  crv::CMiniport miniport_;
  std::vector<std::wstring> placed_;
};

RecordingDiagnostics VendorLibraryTest::diagnostics_;

TEST_F(VendorLibraryTest, BroadcomVersionWordFromBmapiaFoundByTheLibrarySearch) {
  Place(L"complete", L"bmapia.dll");
  Describe(
      L"BMAPIA",
      (std::wstring(L"adapter=") + platform::win32::Wide(kGuid) + L"/7;fw-word=7/0x0207").c_str());
  ULONGLONG start = GetTickCount64();
  crv::GetBCFWVersion(miniport_);
  // One initialisation pause and one before unloading.
  EXPECT_GE(GetTickCount64() - start, 1100u - kTickSlack);
  EXPECT_EQ(Field(), "7.2.0");
  EXPECT_EQ(Calls(),
            "bmapia:attach bmapia:BmapiInitializeEx=0 bmapia:BmapiGetHandleByServiceName=0 "
            "bmapia:BmapiGetFirmwareInfo=0 bmapia:BmapiUninitialize=0 bmapia:detach");
}

TEST_F(VendorLibraryTest, QLogicTextFromTheVirtualBusDriverAfterAFailedInitialisation) {
  Place(L"complete", L"qlmapia.dll");
  // Three NICs: another adapter's, this adapter's, and one whose enumeration info fails. The
  // driver has no 5706 record, so the 57710 one answers.
  Describe(L"QLMAPIA", (std::wstring(L"init-failures=1;adapter=") + platform::win32::Wide(kGuid) +
                        L"/7;nic=300/1/6;nic=301/1/7;nic=302/6/-;fw-57710=301/7.13.2")
                           .c_str());
  ULONGLONG start = GetTickCount64();
  crv::GetQLFWVersion(miniport_);
  EXPECT_GE(GetTickCount64() - start, 2100u - kTickSlack);
  EXPECT_EQ(Field(), "7.13.2");
  EXPECT_EQ(Calls(),
            "qlmapia:attach qlmapia:QLmapiInitializeEx=31 qlmapia:QLmapiInitializeEx=0 "
            "qlmapia:QLmapiGetHandleByServiceName=0 qlmapia:QLmapiGetNumPhyNic=0 "
            "qlmapia:QLmapiGetAllPhyNic=0 qlmapia:QLmapiGetVbdEnumInfo=0 "
            "qlmapia:QLmapiGetVbdEnumInfo=0 qlmapia:QLmapiGet5706FwInfo=2 "
            "qlmapia:QLmapiGet57710FwInfo=0 qlmapia:QLmapiUninitialize=0 qlmapia:detach");
  EXPECT_EQ(diagnostics_.reports,
            (Reports{{"QLmapi Loaded", 0},
                     {"QLmapi Loaded OK", 0},
                     {"QLmapi Failed @InitializeQMAPI", 31},
                     {"InitializeQMAPI: QLmapiInitializeEx() succeeded", 0},
                     {"UnInitializeQMAPI: QmapiUninitialize() returned; QMAPI.dll unloaded", 0},
                     {"Returning from sleep after QmapiUnitialize", 0}}));
}

TEST_F(VendorLibraryTest, BmapiBesideTheAgentModuleFindsTheNicByItsPnpId) {
  Place(L"complete", L"bmapi.dll");
  // Kind 3 carries no PnP id; the walk goes from the last handle to the first.
  Describe(L"BMAPI",
           L"init-failures=1;nic=40/3/-;nic=41/4/-;nic=42/5/-;"
           L"pnp=41/PCI\\VEN_14E4&DEV_1639\\0A;pnp=42/PCI\\VEN_14E4&DEV_1639\\0B");
  ULONGLONG start = GetTickCount64();
  ASSERT_EQ(crv::LoadBmapiLocal(), 0u);
  EXPECT_GE(GetTickCount64() - start, 1000u - kTickSlack);  // the pause after the failed start
  wchar_t loaded[MAX_PATH] = {};
  GetModuleFileNameW(GetModuleHandleW(L"bmapi.dll"), loaded, MAX_PATH);
  EXPECT_EQ(std::wstring(loaded), ProgramDirectory() + L"\\bmapi.dll");

  uint32_t nic = 0;
  EXPECT_EQ(crv::FindBmapiNicByPnpId(u"PCI\\VEN_14E4&DEV_1639\\0A", &nic), 0u);
  EXPECT_EQ(nic, 41u);
  EXPECT_EQ(crv::FindBmapiNicByPnpId(u"PCI\\VEN_14E4&DEV_1639\\0C", &nic), 2u);
  EXPECT_EQ(crv::UnloadBmapiLocal(), 0u);
  // Each search: 42's id, then 41's; the second goes on to 40, whose kind has no id.
  EXPECT_EQ(Calls(),
            "bmapi:attach bmapi:BmapiInitializeEx=31 bmapi:BmapiInitializeEx=0 "
            "bmapi:BmapiGetNumPhyNicEx=0 bmapi:BmapiGetAllPhyNicHandles=0 "
            "bmapi:BmapiGetPhyNic=0 bmapi:BmapiGetPnpDevId=0 bmapi:BmapiGetPnpDevId=0 "
            "bmapi:BmapiGetPhyNic=0 bmapi:BmapiGetPnpDevId=0 bmapi:BmapiGetPnpDevId=0 "
            "bmapi:BmapiGetNumPhyNicEx=0 bmapi:BmapiGetAllPhyNicHandles=0 "
            "bmapi:BmapiGetPhyNic=0 bmapi:BmapiGetPnpDevId=0 bmapi:BmapiGetPnpDevId=0 "
            "bmapi:BmapiGetPhyNic=0 bmapi:BmapiGetPnpDevId=0 bmapi:BmapiGetPnpDevId=0 "
            "bmapi:BmapiGetPhyNic=0 bmapi:BmapiUninitialize=0 bmapi:detach");
}

// A library missing an entry point is unloaded before it is initialised.
TEST_F(VendorLibraryTest, BmapiMissingAnEntryPointIsUnloadedUninitialised) {
  Place(L"no-pnp-id", L"bmapi.dll");
  EXPECT_EQ(crv::LoadBmapiLocal(), 2u);
  EXPECT_EQ(crv::VendorLibraries().bmapiLocal.module, nullptr);
  EXPECT_EQ(Calls(), "bmapi:attach bmapi:detach");
}

// The dynamic loading backend itself, on a stand-in loaded by its full path (names and entry
// points are the platform contract's): module paths, and a module that is gone.
TEST_F(VendorLibraryTest, DynamicLoadingBackendAnswersAsTheLoaderDoes) {
  platform::DynamicLibrary& libraries = *platform::Os().libraries;
  platform::Kernel& kernel = *platform::Os().kernel;
  std::wstring directory = ProgramDirectory();
  std::u16string path =
      std::u16string(directory.begin(), directory.end()) + u"\\stand-ins\\complete\\qlmapia.dll";

  platform::Module module = libraries.LoadLibrary(path.c_str());
  ASSERT_NE(module, nullptr);

  // The agent's module is this program; its path comes back whole, or cut and terminated.
  platform::Module agent = libraries.AgentModule();
  EXPECT_EQ(reinterpret_cast<HMODULE>(agent), GetModuleHandleW(nullptr));
  char16_t name[MAX_PATH];
  uint32_t length = libraries.GetModuleFileName(agent, name, MAX_PATH);
  std::wstring program = directory + L"\\crv_vendor_tests.exe";
  EXPECT_EQ(std::u16string(name, length), std::u16string(program.begin(), program.end()));
  char16_t cut[6];
  EXPECT_EQ(libraries.GetModuleFileName(agent, cut, 6), 6u);
  EXPECT_EQ(std::u16string(cut), std::u16string(name, 5));
  EXPECT_EQ(kernel.GetLastError(), platform::kErrorInsufficientBuffer);
  length = libraries.GetModuleFileName(module, name, MAX_PATH);
  EXPECT_EQ(std::u16string(name, length), path);

  EXPECT_TRUE(libraries.FreeLibrary(module));
  EXPECT_EQ(GetModuleHandleW(reinterpret_cast<const wchar_t*>(path.c_str())), nullptr);
  // The handle of a module that is gone.
  EXPECT_FALSE(libraries.FreeLibrary(module));
  EXPECT_EQ(libraries.GetModuleFileName(module, name, MAX_PATH), 0u);
  EXPECT_EQ(Calls(), "qlmapia:attach qlmapia:detach");
}

}  // namespace

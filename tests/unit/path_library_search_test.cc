// Vendor libraries in their suite's folder on the system PATH: found there and loaded by full
// path, never from a folder that anyone but administrators can write, and the DACL walk that
// tells the two apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/report.h"
#include "platform/sim/state/file_system_sim.h"
#include "platform/sim/state/library_sim.h"
#include "support/sim_fixture.h"
#include "vendor/folder_trust.h"
#include "vendor/path_library_search.h"
#include "vendor/vendor_libraries.h"

namespace {

using sim::SimAce;

const std::u16string kSuite = u"C:\\Program Files\\QLogic\\QLmapi";

class PathLibrarySearchTest : public crvtest::SimTest {
 protected:
  void SystemPath(const std::u16string& path) {
    machine.registry().SetString(sim::kSystemEnvironmentKey, u"Path", path, platform::kRegExpandSz);
  }
  // A folder where authenticated users may create files, holding a planted copy.
  void PlantedFolder(const std::u16string& path) {
    sim::SimFolder& folder = machine.files().AddFolder(path);
    folder.dacl.push_back(
        {0, sim::kAceObjectAndContainerInherit, sim::kFileModify, sim::kSidAuthenticatedUsers});
    folder.files.insert(u"qlmapia.dll");
  }
  std::vector<std::string> Info() { return crvtest::ReportTexts(machine, crv::kReportInformation); }
};

TEST_F(PathLibrarySearchTest, FoundInItsSuiteFolderAfterAWritableFolderIsPassedOverOnce) {
  machine.libraries().qlmapi().present = true;
  machine.libraries().qlmapi().folder = kSuite;
  machine.files().AddFolder(kSuite);
  PlantedFolder(u"C:\\Tools");
  SystemPath(u"%SystemRoot%\\system32;\\\\server\\share;tools;C:\\Tools\\;\"" + kSuite + u"\"");
  for (int load = 0; load < 2; ++load) {
    platform::Module module = crv::LoadQMAPI();
    ASSERT_NE(nullptr, module) << crvtest::DescribeReports(machine);
    platform::Os().libraries->FreeLibrary(module);
    crv::VendorLibraries().qlmapi.module = nullptr;
  }
  EXPECT_EQ(2u, machine.libraries().qlmapi().loads);
  EXPECT_EQ(2u, machine.CallCount("LoadLibraryExW"));
  // The folder by name, once; the UNC and relative entries are never looked in.
  std::vector<std::string> info = Info();
  EXPECT_EQ(1, std::count(info.begin(), info.end(),
                          "Vendor library folder skipped, writable by non-administrators: "
                          "C:\\Tools"));
  EXPECT_EQ(2u * 3, machine.CallCount("GetFileAttributesW"));
}

TEST_F(PathLibrarySearchTest, NotFoundAnywhereIsReportedOnceWithTheErrorOfTheSearchByName) {
  PlantedFolder(u"C:\\Tools");
  machine.files().AddFolder(u"C:\\Tools").nullDacl = true;
  SystemPath(u"C:\\Tools;C:\\Missing");
  EXPECT_EQ(nullptr, crv::LoadQMAPI());
  EXPECT_EQ(nullptr, crv::LoadQMAPI());
  EXPECT_EQ(platform::kErrorModNotFound, platform::Os().kernel->GetLastError());
  EXPECT_EQ((std::vector<std::string>{
                "Vendor library folder skipped, writable by non-administrators: C:\\Tools",
                "Vendor library not found by name nor in the system PATH: qlmapia.dll"}),
            Info());
  EXPECT_EQ(0u, machine.CallCount("LoadLibraryExW"));
}

TEST_F(PathLibrarySearchTest, AFolderWhosePermissionsCannotBeReadIsSkipped) {
  machine.libraries().qlmapi().present = true;
  machine.libraries().qlmapi().folder = kSuite;
  machine.files().AddFolder(kSuite);
  SystemPath(kSuite);
  ASSERT_TRUE(machine.FailCall("GetNamedSecurityInfoW", 1, platform::kErrorAccessDenied));
  EXPECT_EQ(nullptr, crv::LoadQMAPI());
  EXPECT_EQ(1u, crvtest::ReportValues(machine,
                                      u"Vendor library folder skipped, its permissions "
                                      u"cannot be read: C:\\Program Files\\QLogic\\QLmapi")
                    .size());
  EXPECT_NE(nullptr, crv::LoadQMAPI());  // the next load reads them
}

// The DACL walk: which entries let someone other than the administrators and the system
// plant a library.
TEST(FolderTrustTest, OnlyWriteRightsOfOtherTrusteesInAllowEntriesCount) {
  const SimAce admins{0, 3, sim::kFileAllAccess, sim::kSidAdministrators};
  struct Case {
    std::vector<SimAce> dacl;
    bool writable;
  } cases[] = {
      {{admins,
        {0, 3, sim::kFileAllAccess, sim::kSidSystem},
        {0, 3, sim::kFileAllAccess, sim::kSidTrustedInstaller},
        {0, 0x0B, sim::kGenericAll, sim::kSidCreatorOwner},
        {0, 3, sim::kFileReadAndExecute, sim::kSidUsers}},
       false},
      {{admins, {0, 3, 0x00000004, sim::kSidUsers}}, true},               // create folders
      {{admins, {0, 0x0B, 0x40000000, sim::kSidUsers}}, true},            // inherit-only write
      {{admins, {0, 0, 0x00040000, sim::kSidAuthenticatedUsers}}, true},  // WRITE_DAC
      {{admins, {1, 0, sim::kFileAllAccess, sim::kSidUsers}}, false},     // a deny entry
      {{admins, {0, 0, sim::kFileAllAccess, "S-1-5-32-544-1"}}, true},    // not quite admins
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> acl = sim::SimFileSystem::AclBytes(c.dacl);
    EXPECT_EQ(c.writable,
              crv::AclGrantsWriteToOthers(acl.data(), static_cast<uint32_t>(acl.size())))
        << c.dacl.back().sid << " " << c.dacl.back().mask;
  }
  // Sizes that do not hold together: an entry running past the ACL, an ACL past its buffer.
  std::vector<uint8_t> acl = sim::SimFileSystem::AclBytes({admins});
  acl[8 + 2] = 0xFF;
  EXPECT_TRUE(crv::AclGrantsWriteToOthers(acl.data(), static_cast<uint32_t>(acl.size())));
  acl = sim::SimFileSystem::AclBytes({admins});
  EXPECT_TRUE(crv::AclGrantsWriteToOthers(acl.data(), static_cast<uint32_t>(acl.size()) - 1));
}

}  // namespace

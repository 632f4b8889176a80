// The metrics file written whole or not at all, on the simulated server's files: the text
// under a temporary name of its own renamed over the file, the previous file kept and the
// temporary one removed when any step fails, and links planted at either name never written
// through.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "metrics/metrics_file.h"
#include "platform/sim/state/file_system_sim.h"
#include "support/sim_fixture.h"

namespace {

const std::u16string kFolder = u"C:\\exporter\\textfile_inputs";
const std::u16string kPath = kFolder + u"\\crvnicmgmt.prom";
const std::u16string kVictim = u"C:\\Windows\\System32\\drivers\\etc\\hosts";

class MetricsFileTest : public crvtest::SimTest {
 protected:
  MetricsFileTest() {
    machine.files().AddFolder(kFolder);
    machine.files().AddFolder(u"C:\\Windows\\System32\\drivers\\etc");
    machine.files().FileData(kVictim, true)->bytes = "127.0.0.1 localhost\n";
  }
  crv::MetricsWriteResult Write(const std::string& text) {
    return crv::WriteMetricsFile(kPath.c_str(), text.data(), text.size());
  }
  std::string Contents(const std::u16string& path) {
    sim::SimFileData* data = machine.files().FileData(path);
    return data == nullptr ? "<none>" : data->linkTarget.empty() ? data->bytes : "<link>";
  }
  std::vector<std::u16string> Names() { return machine.files().FileNames(kFolder); }
};

TEST_F(MetricsFileTest, ReplacesTheFileWholeThroughATemporaryFileCreatedExclusively) {
  ASSERT_EQ(0u, Write("crvnic_tree_present 1\n").error);
  std::string big(3u << 20, 'x');  // more than one write call's worth
  ASSERT_EQ(0u, Write(big).error);
  EXPECT_EQ(big, Contents(kPath));
  EXPECT_EQ(std::vector<std::u16string>{u"crvnicmgmt.prom"}, Names());
  EXPECT_EQ(2u, machine.CallCount("MoveFileExW"));
}

// Each step failing in turn: the previous file is as it was, the temporary file is gone,
// and the answer names the call and its error.
TEST_F(MetricsFileTest, AFailedStepKeepsThePreviousFileAndRemovesTheTemporaryOne) {
  ASSERT_EQ(0u, Write("old\n").error);
  for (auto [fault, call] :
       {std::pair{"CreateFileW(file)", u"CreateFileW"}, std::pair{"WriteFile", u"WriteFile"},
        std::pair{"CloseHandle(file)", u"CloseHandle"}, std::pair{"MoveFileExW", u"MoveFileExW"}}) {
    SCOPED_TRACE(fault);
    ASSERT_TRUE(machine.FailCall(fault, machine.CallCount(fault) + 1, 112));
    crv::MetricsWriteResult result = Write("new\n");
    EXPECT_EQ(112u, result.error);
    EXPECT_EQ(std::u16string(call), result.failedCall);
    EXPECT_EQ("old\n", Contents(kPath));
    EXPECT_EQ(std::vector<std::u16string>{u"crvnicmgmt.prom"}, Names());
  }
  ASSERT_EQ(0u, Write("new\n").error);
  EXPECT_EQ("new\n", Contents(kPath));
}

TEST_F(MetricsFileTest, LinksPlantedAtEitherNameAreNeverWrittenThrough) {
  // At the file's own name: the rename replaces the link, the file it named is untouched.
  machine.files().PlantLink(kPath, kVictim);
  ASSERT_EQ(0u, Write("metrics\n").error);
  EXPECT_EQ("metrics\n", Contents(kPath));
  EXPECT_EQ("127.0.0.1 localhost\n", Contents(kVictim));

  // At the temporary names, planted just before each creation: another name is taken, and
  // once the names to try are used up the write fails with the file as it was.
  machine.files().linkRace = {kPath + u".", kVictim, 3};
  ASSERT_EQ(0u, Write("second\n").error);
  EXPECT_EQ("second\n", Contents(kPath));
  EXPECT_EQ(4u, Names().size());  // the file and the three links, left to whoever made them
  machine.files().linkRace = {kPath + u".", kVictim, 100};
  crv::MetricsWriteResult result = Write("third\n");
  EXPECT_EQ(80u, result.error);
  EXPECT_EQ(u"CreateFileW", std::u16string(result.failedCall));
  EXPECT_EQ("second\n", Contents(kPath));
  EXPECT_EQ("127.0.0.1 localhost\n", Contents(kVictim));
}

TEST_F(MetricsFileTest, AMissingFolderOrAnOverlongPathIsAnError) {
  EXPECT_EQ(3u, crv::WriteMetricsFile(u"C:\\nosuch\\crvnicmgmt.prom", "x", 1).error);
  std::u16string overlong = kFolder + u"\\" + std::u16string(crv::kMaxMetricsPathChars, u'a');
  EXPECT_EQ(87u, crv::WriteMetricsFile(overlong.c_str(), "x", 1).error);
}

}  // namespace

// The metrics file the service keeps current, on the default server with its Mellanox 25 Gb
// port sending at line rate: every cycle rewrites it, counters carry on past 32 bits where
// the tree's wrap, speeds above 4.29 Gbit/s are true, and a write that fails is reported
// once, leaves the previous file and is made again at the next cycle.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "common/report.h"
#include "platform/sim/state/file_system_sim.h"
#include "scenario_helpers.h"

namespace {

using namespace scenariotest;

const std::u16string kFolder = u"C:\\ProgramData\\crvnic";
const std::u16string kFile = kFolder + u"\\crvnicmgmt.prom";
const std::string kMellanox =
    "{interface=\"Ethernet 5\",port=\"3\",slot=\"6\","
    "pci_location=\"0000:3B:00.0\",mac=\"B8:59:9F:C3:40:01\"}";
constexpr uint64_t kLineRateStep = 31250000000;  // 25 Gb/s for the scenario's 10 s steps

// Series (name and labels) to value, for the lines of one file.
std::map<std::string, uint64_t> Samples(const std::string& text) {
  std::map<std::string, uint64_t> samples;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    size_t space = line.rfind(' ');
    EXPECT_TRUE(samples.emplace(line.substr(0, space), std::stoull(line.substr(space + 1))).second)
        << "series twice: " << line;
  }
  return samples;
}

// The default server with its Mellanox port sending at line rate.
nlohmann::json AtLineRate() {
  nlohmann::json root = QuietDefaultServer();
  for (auto& port : root["traffic"]["ports"]) {
    if (port["guid"] == "{7D9A1F30-2E4B-4F7A-9BAC-3D4E5F6A7B01}") {
      port["add"]["octets_sent"] = kLineRateStep;
    }
  }
  return root;
}

class MetricsFileTest : public ScenarioServerTest {
 public:
  MetricsFileTest() : ScenarioServerTest(AtLineRate()) {
    machine.files().AddFolder(kFolder);
    machine.registry().SetString(kParameters, u"MetricsFile",
                                 u"%ProgramData%\\crvnic\\crvnicmgmt.prom", platform::kRegExpandSz);
  }

  // The file and the Mellanox port's record as they are at t.
  void CaptureAt(uint64_t t) {
    machine.At(t, [this] {
      sim::SimFileData* data = machine.files().FileData(kFile);
      files.push_back(data != nullptr ? data->bytes : "");
      auto record = ReadRecord<crv::PhysAdapterRecord>(machine, u"\\Interface\\PhysInterface",
                                                       u"PhysAdapter003");
      recordOctets.push_back(record ? record->sentOctets : 0);
    });
  }

  std::vector<std::string> files;
  std::vector<uint32_t> recordOctets;
};

TEST_F(MetricsFileTest, CountersGoPast32BitsAndSpeedsAreTrue) {
  // The files of the cycles at 30, 60 and 90 s.
  for (uint64_t t : {45000, 75000, 105000}) CaptureAt(t);
  Run(110000);
  ASSERT_EQ(3u, files.size());
  uint64_t previous = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(i);
    auto samples = Samples(files[i]);
    uint64_t sent = samples.at("crvnic_port_transmitted_bytes_total" + kMellanox);
    // A 25 Gb/s link passes 2^32 bytes in 1.4 s: the file's count goes on where the tree's
    // 32-bit one wrapped, and is the same count below 32 bits.
    EXPECT_GT(sent, uint64_t{1} << 32);
    EXPECT_TRUE(i == 0 || sent - previous == 3 * kLineRateStep) << "three 10 s steps a cycle";
    EXPECT_EQ(recordOctets[i], static_cast<uint32_t>(sent));
    previous = sent;
    EXPECT_EQ(3125000000u, samples.at("crvnic_port_speed_bytes_per_second" + kMellanox));
    // The interfaces' speeds; the 64-bit error and discard series name each port as its other
    // series do.
    std::multiset<uint64_t> speeds;
    size_t ports = 0;
    for (const auto& [series, value] : samples) {
      if (series.rfind("crvnic_interface_speed_bytes_per_second{", 0) == 0) speeds.insert(value);
      if (series.rfind("crvnic_port_up{", 0) != 0) continue;
      ++ports;
      std::string labels = series.substr(15, series.size() - 16) + ",direction=\"";
      for (std::string family : {"errors", "discards"}) {
        family = "crvnic_port_interface_" + family + "_total{" + labels;
        EXPECT_TRUE(samples.count(family + "receive\"}") && samples.count(family + "transmit\"}"))
            << family;
      }
    }
    EXPECT_EQ(6u, ports);
    EXPECT_EQ(1u, speeds.count(3125000000u)) << "the 25 Gb port";
    EXPECT_GE(speeds.count(2500000000u), 1u) << "the 2 x 10 Gb team";
  }
  EXPECT_NE(std::string::npos, files[0].find("# HELP crvnic_port_transmitted_bytes_total Bytes "
                                             "the port's interface sent (the system's 64-bit"));
}

TEST_F(MetricsFileTest, AFailedWriteIsReportedOnceAndMadeAgainAtTheNextCycle) {
  // The cycles at 30 s and 60 s cannot rename their file; the one at 90 s can.
  ASSERT_TRUE(machine.FailCall("MoveFileExW", 2, 5));
  ASSERT_TRUE(machine.FailCall("MoveFileExW", 3, 5));
  for (uint64_t t : {15000, 75000, 105000}) CaptureAt(t);
  Run(110000);
  ASSERT_EQ(3u, files.size());
  EXPECT_FALSE(files[0].empty());
  EXPECT_EQ(files[0], files[1]) << "the previous file is kept";
  EXPECT_NE(files[1], files[2]);
  EXPECT_EQ(std::vector<std::u16string>{u"crvnicmgmt.prom"}, machine.files().FileNames(kFolder));
  EXPECT_EQ(std::vector<std::string>{"MetricsFile: failure to write, at MoveFileExW"},
            crvtest::ReportTexts(machine, crv::kReportValueNotWritten))
      << crvtest::DescribeReports(machine);
  EXPECT_EQ(std::vector<uint32_t>{5},
            crvtest::ReportValues(machine, u"MetricsFile: failure to write, at MoveFileExW"));
  EXPECT_EQ(1u, crvtest::ReportValues(machine, u"MetricsFile: written again").size());
}

}  // namespace

// A path the value cannot hold whole, or a value of another type, names no file: one report,
// nothing written anywhere.
TEST_F(MetricsFileTest, APathTooLongOrNotATextWritesNothing) {
  for (bool tooLong : {true, false}) {
    SCOPED_TRACE(tooLong);
    if (tooLong) {
      machine.registry().SetString(kParameters, u"MetricsFile",
                                   kFolder + u"\\" + std::u16string(1020, u'm') + u".prom");
    } else {
      machine.registry().SetDword(kParameters, u"MetricsFile", 1);
    }
    machine.ClearReports();
    Run(5000);
    EXPECT_TRUE(machine.files().FileNames(kFolder).empty());
    EXPECT_EQ(0u, machine.CallCount("CreateFileW(file)"));
    int reports = 0;
    for (const sim::ReportRecord& r : machine.Reports()) {
      reports += r.message.rfind(u"MetricsFile: ", 0) == 0;
    }
    EXPECT_EQ(1, reports) << crvtest::DescribeReports(machine);
  }
}

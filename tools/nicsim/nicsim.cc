// nicsim: runs the agent's Win2KMain on a simulated Windows server and prints what it did:
// the console lines, the reports with their virtual times (--trace), and the published tree.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "common/utf.h"
#include "inventory/platform_inventory.h"
#include "options.h"
#include "platform/sim/api/event_log_sim.h"
#include "platform/sim/harness/agent_process.h"
#include "platform/sim/harness/event_text.h"
#include "platform/sim/scenario/scenario.h"
#include "platform/sim/state/file_system_sim.h"
#include "summary.h"
#include "tessar_decode.h"

extern const char kDefaultScenario[];

namespace {

const char16_t kTreeRoot[] = u"SYSTEM\\TessarNetwork";

std::string VirtualTime(uint64_t ms) {
  char text[48];
  std::snprintf(text, sizeof text, "%3llu:%02llu:%02llu.%03llu",
                static_cast<unsigned long long>(ms / 3600000),
                static_cast<unsigned long long>(ms / 60000 % 60),
                static_cast<unsigned long long>(ms / 1000 % 60),
                static_cast<unsigned long long>(ms % 1000));
  return text;
}

const char* EndText(sim::RunEnd end) {
  switch (end) {
    case sim::RunEnd::kDurationOver:
      return "the virtual duration is over";
    case sim::RunEnd::kIdle:
      return "nothing but waiting threads is left";
    case sim::RunEnd::kReturned:
      return "Win2KMain returned";
  }
  return "?";
}

void PrintReports(const sim::Machine& machine) {
  std::printf("\n== reports (%zu) ==\n", machine.Reports().size());
  for (const auto& report : machine.Reports()) {
    std::printf(
        "%s  0x%08X  %-60s  value %u\n", VirtualTime(report.timeMs).c_str(), report.code,
        report.hasMessage ? ("\"" + Shown(crv::Utf16ToUtf8(report.message)) + "\"").c_str() : "-",
        report.value);
  }
}

// The Application log's events of the run, oldest first (the Event Viewer lists them newest
// first), with the sentences of the agent's message table.
void PrintEvents(sim::Machine& machine) {
  const auto& events = machine.eventLog().Events();
  std::printf("\n== Application log (%zu events) ==\n", events.size());
  for (const auto& event : events) {
    std::printf("%s\n", Shown(sim::FormatEventLine(event, machine.StartFileTime())).c_str());
  }
}

bool ReadFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *text = buffer.str();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  NicsimOptions options;
  std::string error;
  if (!ParseNicsimOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "nicsim: %s\n%s", Shown(error, LineEnds::kEscape).c_str(), kNicsimUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(kNicsimUsage, stdout);
    return 0;
  }
  std::string text = kDefaultScenario;
  if (!options.scenarioPath.empty() && !ReadFile(options.scenarioPath, &text)) {
    std::fprintf(stderr, "nicsim: cannot read %s\n",
                 Shown(options.scenarioPath, LineEnds::kEscape).c_str());
    return 2;
  }

  sim::Machine machine;
  sim::Scenario scenario;
  if (!sim::LoadScenario(text, machine, &scenario, &error)) {
    // One line, whatever the scenario's names hold.
    std::string source = options.scenarioPath.empty() ? "built-in scenario" : options.scenarioPath;
    std::fprintf(stderr, "nicsim: %s: %s\n", Shown(source, LineEnds::kEscape).c_str(),
                 Shown(error, LineEnds::kEscape).c_str());
    return 2;
  }
  uint64_t duration = options.durationMs.value_or(scenario.durationMs);
  // The metrics file in the folder a textfile collector would read, on the server's disk.
  const std::u16string metricsFolder = u"C:\\ProgramData\\crvnicmgmt";
  const std::u16string metricsFile = metricsFolder + u"\\crvnicmgmt.prom";
  if (!options.metricsPath.empty()) {
    machine.files().AddFolder(metricsFolder);
    machine.registry().SetString(u"SYSTEM\\CurrentControlSet\\Services\\CRVNicMgmt\\CRVNICS",
                                 u"MetricsFile", metricsFile);
  }
  machine.Install();
  machine.RecordRegistryWrites(true);

  std::printf("nicsim: %s\n", scenario.description.empty() ? "(no description)"
                                                           : Shown(scenario.description).c_str());
  std::string commandLine;
  for (const auto& arg : scenario.commandLine)
    commandLine += (commandLine.empty() ? "" : " ") + Shown(arg);
  std::printf("command line: %s\n", commandLine.c_str());

  // What the agent's platform inventory holds just before the run ends (the process state
  // is gone afterwards).
  std::string productName = "(not read)";
  if (duration > 0) {
    machine.At(duration - 1, [&productName] {
      char name[256] = {};
      crv::GetSystemProductName(name, sizeof name);
      productName = name;
    });
  }
  sim::AgentRun run = sim::RunAgentProcess(machine, scenario.commandLine, duration);
  std::printf("ran %s of virtual time; the run ended because %s\n",
              VirtualTime(machine.NowMs()).c_str(), EndText(run.end));

  std::printf("\n== console ==\n%s", machine.ConsoleOutput().empty()
                                         ? "(nothing printed)\n"
                                         : Shown(machine.ConsoleOutput()).c_str());
  std::printf("\n== platform inventory ==\nsystem product name: %s\n", Shown(productName).c_str());
  PrintInterfaceTable(machine);
  if (options.trace) PrintReports(machine);
  PrintTraps(machine);
  if (options.events) PrintEvents(machine);
  PrintLinkTimeline(machine);

  // The tree as the management service reads it, through tessar-dump's decoder.
  std::string tree = machine.registry().Dump(kTreeRoot);
  std::optional<tessar::RawKey> root;
  tessar::ParseError parseError;
  if (!tessar::ParseDump(tree, &root, &parseError)) {
    std::fprintf(stderr, "nicsim: the registry dump does not parse: line %zu: %s\n",
                 parseError.line, Shown(parseError.message, LineEnds::kEscape).c_str());
    return 1;
  }
  std::printf("\n== published tree HKLM\\SYSTEM\\TessarNetwork ==\n");
  if (!root) {
    std::printf("(absent)\n");
  } else {
    tessar::DecodedKey decoded = tessar::DecodeTree(*root);
    // The decoder escapes what it decodes; Shown also catches what it copies as it is.
    std::fputs(
        Shown(options.json ? tessar::RenderJson(decoded) : tessar::RenderTable(decoded)).c_str(),
        stdout);
  }
  if (!options.metricsPath.empty()) {
    const sim::SimFileData* metrics = machine.files().FileData(metricsFile);
    std::printf("\n== metrics file %s: %s ==\n", crv::Utf16ToUtf8(metricsFile).c_str(),
                metrics == nullptr ? "not written" : "copied to the given file");
    std::ofstream out(options.metricsPath, std::ios::binary);
    if (metrics != nullptr) out << metrics->bytes;
    if (metrics == nullptr || !out) {
      std::fprintf(stderr, "nicsim: no metrics file, or cannot write %s\n",
                   Shown(options.metricsPath, LineEnds::kEscape).c_str());
      return 1;
    }
  }
  if (!options.dumpPath.empty()) {
    std::ofstream out(options.dumpPath, std::ios::binary);
    out << tree;
    if (!out) {
      std::fprintf(stderr, "nicsim: cannot write %s\n",
                   Shown(options.dumpPath, LineEnds::kEscape).c_str());
      return 1;
    }
  }
  return 0;
}

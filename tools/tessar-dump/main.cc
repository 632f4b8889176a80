// tessar-dump: prints the published tree as the management service sees it, every key, value
// and record field, as a table or as JSON; as Prometheus metrics; or live, read again every
// few seconds.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "standard_output.h"
#include "tessar_decode.h"
#include "tree_view.h"
#include "watch_loop.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#if defined(CRV_WINDOWS) && !defined(CRV_NO_LIVE_REGISTRY)
#define TESSAR_LIVE_REGISTRY 1
#include "platform/platform.h"
#include "platform/win32/win32_platform.h"
#endif

namespace {

#if defined(TESSAR_LIVE_REGISTRY)
const char kTreePathUtf8[] = "SYSTEM\\TessarNetwork";
const char kUsage[] =
    "usage: tessar-dump [--json | --prometheus [--output FILE]] [--watch [SECONDS]] [DUMPFILE]\n"
    "Prints HKEY_LOCAL_MACHINE\\SYSTEM\\TessarNetwork, or the registry dump in DUMPFILE, as a\n"
    "table, or as JSON with --json.\n";
#else
const char kUsage[] =
    "usage: tessar-dump [--json | --prometheus [--output FILE]] [--watch [SECONDS]] DUMPFILE\n"
    "Prints the registry dump in DUMPFILE (as nicsim --dump writes it) as a table, or as\n"
    "JSON with --json.\n";
#endif
const char kUsageMore[] =
    "  --prometheus     the interfaces, ports and trap records as Prometheus metrics\n"
    "  --output FILE    with --prometheus: write a new temporary file beside FILE and\n"
    "                   rename it over FILE\n"
    "  --watch [SEC]    read the tree again every SEC seconds (5 by default) and redraw a\n"
    "                   table of interfaces and ports with changes marked '*', new ones '+',\n"
    "                   and trap records as they appear; with --prometheus --output, keep\n"
    "                   FILE current instead. Ends on Ctrl-C.\n";

bool ReadFile(const std::string& path, std::string* text) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text->append(buffer, n);
  bool ok = std::ferror(file) == 0;  // a directory opens but cannot be read
  std::fclose(file);
  return ok;
}

// Reads the tree from the dump file, or from the live registry when there is none. False
// with a message when it cannot be read; *tree is left empty when there is no tree.
bool ReadTree(const std::string& dumpPath, std::optional<tessar::RawKey>* tree,
              std::string* error) {
  tree->reset();
  if (dumpPath.empty()) {
#if defined(TESSAR_LIVE_REGISTRY)
    tessar::RawKey root;
    int32_t status = tessar::ReadRegistryTree(*platform::Os().registry, platform::kHkeyLocalMachine,
                                              u"SYSTEM\\TessarNetwork", &root);
    if (status == static_cast<int32_t>(platform::kErrorFileNotFound)) return true;
    if (status != 0) {
      *error = std::string("cannot open HKEY_LOCAL_MACHINE\\") + kTreePathUtf8 + " (error " +
               std::to_string(status) + ")";
      return false;
    }
    *tree = std::move(root);
    return true;
#else
    *error = "no dump file given";
    return false;
#endif
  }
  std::string text;
  if (!ReadFile(dumpPath, &text)) {
    *error = "cannot read " + dumpPath;
    return false;
  }
  tessar::ParseError parseError;
  if (!tessar::ParseDump(text, tree, &parseError)) {
    *error = dumpPath + ":" + std::to_string(parseError.line) + ": " + parseError.message;
    return false;
  }
  return true;
}

std::string AbsentWhat(const std::string& dumpPath) {
#if defined(TESSAR_LIVE_REGISTRY)
  if (dumpPath.empty()) return std::string("HKEY_LOCAL_MACHINE\\") + kTreePathUtf8;
#endif
  return dumpPath;
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  bool prometheus = false;
  bool watch = false;
  unsigned watchSeconds = 5;
  std::string outputPath;
  std::string dumpPath;
  auto usageError = [](const std::string& what) {
    std::fprintf(stderr, "tessar-dump: %s\n%s", what.c_str(), kUsage);
    return 2;
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--prometheus") {
      prometheus = true;
    } else if (arg == "--output") {
      if (i + 1 >= argc) return usageError("--output needs a file name");
      outputPath = argv[++i];
    } else if (arg == "--watch") {
      watch = true;
      if (i + 1 < argc && argv[i + 1][0] >= '0' && argv[i + 1][0] <= '9') {
        char* end = nullptr;
        unsigned long seconds = std::strtoul(argv[++i], &end, 10);
        if (*end != '\0' || seconds == 0 || seconds > 86400) {
          return usageError(std::string("--watch: not a number of seconds: ") + argv[i]);
        }
        watchSeconds = static_cast<unsigned>(seconds);
      }
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::fputs(kUsageMore, stdout);
      return 0;
    } else if (arg[0] == '-' || !dumpPath.empty()) {
      return usageError("unexpected argument \"" + arg + "\"");
    } else {
      dumpPath = arg;
    }
  }
  if (json && (prometheus || watch))
    return usageError("--json goes with neither --prometheus nor --watch");
  if (!outputPath.empty() && !prometheus) return usageError("--output goes with --prometheus");
  if (watch && prometheus && outputPath.empty()) {
    return usageError("--watch with --prometheus needs --output FILE");
  }
#if !defined(TESSAR_LIVE_REGISTRY)
  if (dumpPath.empty()) return usageError("no dump file given");
#else
  if (dumpPath.empty()) platform::win32::InstallWin32Platform();
#endif

  if (watch) {
    tessar::WatchOptions options;
    options.intervalSeconds = watchSeconds;
    options.metricsPath = outputPath;
    options.source = AbsentWhat(dumpPath);
    return tessar::RunWatch(options, [&](std::optional<tessar::RawKey>* tree, std::string* error) {
      return ReadTree(dumpPath, tree, error);
    });
  }

  std::optional<tessar::RawKey> tree;
  std::string error;
  if (!ReadTree(dumpPath, &tree, &error)) {
    std::fprintf(stderr, "tessar-dump: %s\n", error.c_str());
    return 1;
  }
  std::string text;
  if (prometheus) {
    text = tessar::RenderPrometheus(tree ? tessar::ViewOf(tessar::DecodeTree(*tree))
                                         : tessar::NoTree());
    if (!outputPath.empty()) {
      if (!tessar::WriteFileReplacing(outputPath, text, &error)) {
        std::fprintf(stderr, "tessar-dump: %s\n", error.c_str());
        return 1;
      }
      return 0;
    }
  } else if (!tree) {
    text = json ? "null\n" : AbsentWhat(dumpPath) + " holds no tree\n";
  } else {
    tessar::DecodedKey decoded = tessar::DecodeTree(*tree);
    text = json ? tessar::RenderJson(decoded) : tessar::RenderTable(decoded);
  }
#if defined(_WIN32)
  // Metrics lines end in a line feed alone, also when printed to a file or pipe.
  if (prometheus) _setmode(_fileno(stdout), _O_BINARY);
#endif
  if (!tessar::WriteStandardOutput(text, &error)) {
    std::fprintf(stderr, "tessar-dump: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

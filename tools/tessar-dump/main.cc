// tessar-dump: prints the published tree as the management service sees it, every key, value
// and record field, as a table or as JSON.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "tessar_decode.h"

#if defined(CRV_WINDOWS) && !defined(CRV_NO_LIVE_REGISTRY)
#define TESSAR_LIVE_REGISTRY 1
#include "platform/platform.h"
#include "platform/win32/win32_platform.h"
#endif

namespace {

#if defined(TESSAR_LIVE_REGISTRY)
const char kTreePathUtf8[] = "SYSTEM\\TessarNetwork";
const char kUsage[] =
    "usage: tessar-dump [--json] [DUMPFILE]\n"
    "Prints HKEY_LOCAL_MACHINE\\SYSTEM\\TessarNetwork, or the registry dump in DUMPFILE, as a\n"
    "table, or as JSON with --json.\n";
#else
const char kUsage[] =
    "usage: tessar-dump [--json] DUMPFILE\n"
    "Prints the registry dump in DUMPFILE (as nicsim --dump writes it) as a table, or as\n"
    "JSON with --json.\n";
#endif

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

int Print(const std::optional<tessar::RawKey>& tree, bool json, const char* absentWhat) {
  if (!tree) {
    if (json) {
      std::fputs("null\n", stdout);
    } else {
      std::printf("%s holds no tree\n", absentWhat);
    }
    return 0;
  }
  tessar::DecodedKey decoded = tessar::DecodeTree(*tree);
  std::string text = json ? tessar::RenderJson(decoded) : tessar::RenderTable(decoded);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  std::string dumpPath;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (argv[i][0] == '-' || !dumpPath.empty()) {
      std::fprintf(stderr, "tessar-dump: unexpected argument \"%s\"\n%s", argv[i], kUsage);
      return 2;
    } else {
      dumpPath = argv[i];
    }
  }

  if (dumpPath.empty()) {
#if defined(TESSAR_LIVE_REGISTRY)
    platform::win32::InstallWin32Platform();
    tessar::RawKey root;
    int32_t status = tessar::ReadRegistryTree(*platform::Os().registry, platform::kHkeyLocalMachine,
                                              u"SYSTEM\\TessarNetwork", &root);
    if (status == static_cast<int32_t>(platform::kErrorFileNotFound)) {
      return Print(std::nullopt, json, "HKEY_LOCAL_MACHINE\\SYSTEM\\TessarNetwork");
    }
    if (status != 0) {
      std::fprintf(stderr, "tessar-dump: cannot open HKEY_LOCAL_MACHINE\\%s (error %d)\n",
                   kTreePathUtf8, status);
      return 1;
    }
    return Print(root, json, kTreePathUtf8);
#else
    std::fprintf(stderr, "tessar-dump: no dump file given\n%s", kUsage);
    return 2;
#endif
  }

  std::string text;
  if (!ReadFile(dumpPath, &text)) {
    std::fprintf(stderr, "tessar-dump: cannot read %s\n", dumpPath.c_str());
    return 1;
  }
  std::optional<tessar::RawKey> tree;
  tessar::ParseError error;
  if (!tessar::ParseDump(text, &tree, &error)) {
    std::fprintf(stderr, "tessar-dump: %s:%zu: %s\n", dumpPath.c_str(), error.line,
                 error.message.c_str());
    return 1;
  }
  return Print(tree, json, dumpPath.c_str());
}

// Loads crvnicmgmt.dll from its own directory, as the host does, and sends two reports through
// the exported sink under both names. Exit code: the sum of the sink's results (1 each), or
// 100 + a step number when the module or an export is missing.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <string>

using ReportSink = int32_t (*)(uint32_t code, const char16_t* message, uint32_t value);

int main() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  path.resize(path.find_last_of(L"\\/") + 1);
  HMODULE module = LoadLibraryW((path + L"crvnicmgmt.dll").c_str());
  if (module == nullptr) return 101;
  auto report = reinterpret_cast<ReportSink>(
      reinterpret_cast<void*>(GetProcAddress(module, "CrvNicMgmtReportError")));
  auto reportDebug = reinterpret_cast<ReportSink>(
      reinterpret_cast<void*>(GetProcAddress(module, "CrvNicMgmtReportErrorDebug")));
  if (report == nullptr || reportDebug == nullptr) return 102;
  return report(0x44350127, u"Debug logging is enabled.", 0) + reportDebug(0x84350101, nullptr, 8);
}

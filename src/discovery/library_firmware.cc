// The firmware version methods that ask a vendor management library: qlmapia.dll for
// functions under a Broadcom or QLogic virtual bus driver, bmapia.dll for Broadcom devices on
// the PCI bus. Each initialises its library around the one query.
#include <cstdio>
#include <cstring>

#include "common/ansi_text.h"
#include "common/report.h"
#include "common/text.h"
#include "discovery/firmware_version.h"
#include "discovery/miniport.h"
#include "vendor/vendor_libraries.h"

namespace crv {
namespace {

// A firmware record: the version the agent sets at 0, its size and where the narrow version
// text starts.
struct FirmwareRecord {
  uint32_t version;
  uint32_t size;
  uint32_t textOffset;
};

constexpr FirmwareRecord kQLmapi5706 = {10, 632, 8};
constexpr FirmwareRecord kQLmapi57710 = {11, 824, 8};
constexpr FirmwareRecord kQLmapi579XX = {1, 5257, 4};
constexpr FirmwareRecord kBmapi5706 = {10, 632, 8};
constexpr FirmwareRecord kBmapi57710 = {9, 792, 8};
constexpr uint32_t kLargestFirmwareRecord = 5257;

constexpr uint32_t kFirmwareInfoSize = 836;
constexpr uint32_t kFirmwareInfoVersion = 12;
constexpr uint32_t kFirmwareInfoWordOffset = 154;

// Asks one firmware entry point of the virtual bus driver; on success its text, widened and
// cut to the field, becomes the version. A missing entry point fails like a call.
uint32_t AskFirmwareText(MapiHandleRecordFn entry, const FirmwareRecord& layout, uint32_t vbdHandle,
                         CMiniport& miniport) {
  if (entry == nullptr) return platform::kErrorProcNotFound;
  alignas(4) uint8_t record[kLargestFirmwareRecord] = {};
  std::memcpy(record, &layout.version, sizeof layout.version);
  uint32_t status = entry(vbdHandle, record);
  if (status != 0) return status;
  FromAnsiField(reinterpret_cast<const char*>(record + layout.textOffset),
                layout.size - layout.textOffset, miniport.FirmwareVersion(),
                CMiniport::kFirmwareVersionChars);
  return 0;
}

// "minor.major.0" from the library's version word, low byte first.
void SetVersionFromWord(CMiniport& miniport, uint16_t word) {
  char text[CMiniport::kFirmwareVersionChars];
  std::snprintf(text, sizeof text, "%u.%u.0", static_cast<unsigned>(word & 0xFF),
                static_cast<unsigned>(word >> 8));
  char16_t* field = miniport.FirmwareVersion();
  size_t i = 0;
  for (; text[i] != 0 && i + 1 < CMiniport::kFirmwareVersionChars; ++i) field[i] = text[i];
  field[i] = 0;
}

}  // namespace

void GetQLFWVersion(CMiniport& miniport) {
  const QLmapiLibrary& library = VendorLibraries().qlmapi;
  if (InitializeQMAPI() == 0 || library.getHandleByServiceName == nullptr) {
    ReportInfo(u"QLmapi Failed @GetQLFWVersion", 0);
    return;
  }
  uint32_t adapterHandle = 0;
  uint32_t vbdHandle = 0;
  if (library.getHandleByServiceName(miniport.Guid(), &adapterHandle) != 0) {
    ReportInfo(u"QLmapiGetHandleByServiceName failed", 1);
  } else if (GetQLVBDHandle(adapterHandle, &vbdHandle) != 0) {
    ReportInfo(u"GetQLVBDHandle failed", 1);
  } else if (AskFirmwareText(library.get5706FwInfo, kQLmapi5706, vbdHandle, miniport) != 0 &&
             AskFirmwareText(library.get57710FwInfo, kQLmapi57710, vbdHandle, miniport) != 0 &&
             AskFirmwareText(library.get579XXFwInfo, kQLmapi579XX, vbdHandle, miniport) != 0) {
    ReportInfo(u"fQmapiGet5706/57710/579XXFwInfo Failed", 1);
  }
  UnInitializeQMAPI(0);
}

void GetBCFWVersion(CMiniport& miniport) {
  const BmapiLibrary& library = VendorLibraries().bmapi;
  if (InitializeBMAPI() == 0 || library.getHandleByServiceName == nullptr ||
      library.getFirmwareInfo == nullptr) {
    ReportInfo(u"Bmapi Failed @GetBCFWVersion", 0);
    return;
  }
  uint32_t adapterHandle = 0;
  uint32_t status = library.getHandleByServiceName(miniport.Guid(), &adapterHandle);
  if (status != 0) {
    ReportInfo(u"BmapiGetHandleByServiceName failed", status);
    UnInitializeBMAPI(0);
    return;
  }
  alignas(4) uint8_t info[kFirmwareInfoSize] = {};
  std::memcpy(info, &kFirmwareInfoVersion, sizeof kFirmwareInfoVersion);
  uint16_t word = 0;
  if (library.getFirmwareInfo(adapterHandle, info) == 0) {
    std::memcpy(&word, info + kFirmwareInfoWordOffset, sizeof word);
  }
  if (word != 0) {
    SetVersionFromWord(miniport, word);
  } else {
    // A failed answer, or one without a version word: ask the virtual bus driver instead.
    uint32_t vbdHandle = 0;
    status = GetVBDHandle(adapterHandle, &vbdHandle);
    if (status != 0) {
      ReportInfo(u"GetVBDHandle failed", status);
    } else if ((status = AskFirmwareText(library.get5706FwInfo, kBmapi5706, vbdHandle, miniport)) !=
                   0 &&
               (status = AskFirmwareText(library.get57710FwInfo, kBmapi57710, vbdHandle,
                                         miniport)) != 0) {
      ReportInfo(u"fBmapiGet5706/57710FwInfo Failed", status);
    }
  }
  UnInitializeBMAPI(0);
}

}  // namespace crv

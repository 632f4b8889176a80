// The firmware version dispatcher and the methods that ask the adapter's driver directly
// through vendor-defined NDIS OIDs.
#include "discovery/firmware_version.h"

#include <cstdio>
#include <cstring>

#include "common/ansi_text.h"
#include "common/text.h"
#include "discovery/miniport.h"

namespace crv {
namespace {

constexpr uint32_t kOidIntelAdapterInfo = 0xFF0201D3;  // through the private query device
constexpr uint32_t kIntelAnswerSize = 72;
constexpr uint32_t kIntelVersionOffset = 68;
constexpr uint32_t kOidNetXenFirmware = 0xFF01011E;
constexpr uint32_t kOidEmulexFirmware = 0xFF020295;
constexpr uint32_t kEmulexAnswerSize = 256;
constexpr uint32_t kOidMellanoxFirmware = 0xFFA0C915;

constexpr uint32_t kVendorIntel = 0x8086;
constexpr uint32_t kVendorNetXen = 0x4040;
constexpr uint32_t kVendorQLogic = 0x1077;
constexpr uint32_t kVendorEmulex = 0x19A2;
constexpr uint32_t kVendorBroadcom = 0x14E4;
constexpr uint32_t kVendorBroadcomAlternate = 0x1656;
constexpr uint32_t kVendorSolarflare = 0x1924;
constexpr uint32_t kVendorMellanox = 0x15B3;
constexpr uint32_t kEmulexOnQLogicWord = 0x10DF0720;
constexpr uint32_t kQLogicBroadcomWord = 0x16A11077;
constexpr uint8_t kFamilyMellanoxA = 12;
constexpr uint8_t kFamilyMellanoxB = 15;

constexpr char kNotAvailable[] = "n/a";

uint32_t ReadWord(const uint8_t* bytes, size_t offset) {
  uint32_t value;
  std::memcpy(&value, bytes + offset, sizeof value);
  return value;
}

// Writes "a.b.c" into the miniport's version field, cut to the field.
void SetDottedVersion(CMiniport& miniport, uint32_t a, uint32_t b, uint32_t c, bool asSigned) {
  char text[64];
  if (asSigned) {
    std::snprintf(text, sizeof text, "%d.%d.%d", static_cast<int>(a), static_cast<int>(b),
                  static_cast<int>(c));
  } else {
    std::snprintf(text, sizeof text, "%u.%u.%u", a, b, c);
  }
  char16_t wide[CMiniport::kFirmwareVersionChars];
  size_t i = 0;
  for (; text[i] != 0 && i + 1 < CMiniport::kFirmwareVersionChars; ++i) wide[i] = text[i];
  wide[i] = 0;
  CopyBounded(miniport.FirmwareVersion(), CMiniport::kFirmwareVersionChars, wide);
}

void CopyOut(const char* text, char* out, size_t outBytes) {
  if (outBytes == 0) return;
  size_t length = std::strlen(text);
  if (length >= outBytes) length = outBytes - 1;
  std::memcpy(out, text, length);
  out[length] = 0;
}

}  // namespace

bool GetIntelFWVersion(CMiniport& miniport) {
  uint8_t answer[kIntelAnswerSize] = {};
  uint32_t returned = 0;
  if (miniport.QueryPrivateInformation(kOidIntelAdapterInfo, answer, sizeof answer, &returned) !=
      0) {
    return false;
  }
  uint32_t v = ReadWord(answer, kIntelVersionOffset);
  if (v == 0) return false;
  if (v >= 0x10000) {
    SetDottedVersion(miniport, v >> 24, (v >> 8) & 0xFFFF, v & 0xFF, true);
  } else {
    SetDottedVersion(miniport, (v >> 12) & 0xF, (v >> 8) & 0xF, v & 0xFF, true);
  }
  return true;
}

void GetNetXenFWVersion(CMiniport& miniport) {
  uint8_t answer[12] = {};
  uint32_t returned = 0;
  if (miniport.QueryInformation(kOidNetXenFirmware, answer, sizeof answer, &returned) != 0) return;
  SetDottedVersion(miniport, ReadWord(answer, 0), ReadWord(answer, 4), ReadWord(answer, 8), false);
}

void GetEmulexFWVersion(CMiniport& miniport) {
  uint8_t answer[kEmulexAnswerSize] = {};
  uint32_t returned = 0;
  if (miniport.QueryInformation(kOidEmulexFirmware, answer, sizeof answer, &returned) != 0) return;
  // The driver's text need not be terminated within the answer: the widening stops at its end.
  FromAnsiField(reinterpret_cast<const char*>(answer), sizeof answer, miniport.FirmwareVersion(),
                CMiniport::kFirmwareVersionChars);
}

void GetMellanoxFWVersion(CMiniport& miniport) {
  uint8_t answer[8] = {};
  uint32_t returned = 0;
  if (miniport.QueryInformation(kOidMellanoxFirmware, answer, sizeof answer, &returned) != 0) {
    return;
  }
  uint64_t q;
  std::memcpy(&q, answer, sizeof q);
  SetDottedVersion(miniport, static_cast<uint32_t>((q >> 32) & 0xFFFF),
                   static_cast<uint32_t>((q >> 16) & 0xFFFF), static_cast<uint32_t>(q & 0xFFFF),
                   false);
}

void GetFirmwareVersion(CMiniport& miniport, char* out, size_t outBytes) {
  uint32_t word = miniport.PciId();
  uint32_t high = word >> 16;
  uint32_t low = word & 0xFFFF;
  uint8_t family = miniport.DriverFamily();

  if (high == kVendorIntel) {
    if (!GetIntelFWVersion(miniport)) {
      CopyOut(kNotAvailable, out, outBytes);
      return;
    }
  } else if (high == kVendorNetXen || high == kVendorQLogic) {
    GetNetXenFWVersion(miniport);
  } else if (high == kVendorEmulex || word == kEmulexOnQLogicWord) {
    GetEmulexFWVersion(miniport);
  } else if (low == kVendorBroadcom || high == kVendorBroadcom ||
             high == kVendorBroadcomAlternate || word == kQLogicBroadcomWord) {
    // A function under a Broadcom or QLogic virtual bus carries the vendor in the low half.
    if (low == kVendorBroadcom || low == kVendorQLogic) {
      GetQLFWVersion(miniport);
    } else {
      GetBCFWVersion(miniport);
    }
  } else if (high == kVendorSolarflare) {
    GetSolarflareFWVersion(miniport);
  } else if (family == kFamilyMellanoxA || family == kFamilyMellanoxB || high == kVendorMellanox) {
    GetMellanoxFWVersion(miniport);
  }
  ToAnsiField(miniport.FirmwareVersion(), out, outBytes);
}

}  // namespace crv

// The speed and duplex an adapter's driver is configured for, from the adapter's key under
// the network class key, as a configuration code: 1 unknown, 2 auto-negotiation, 3 to 8 the
// 10/100/1000 Mbit/s half and full duplex settings, 9 10 Gbit/s full duplex.
#include <iterator>

#include "common/alloc.h"
#include "common/report.h"
#include "common/text.h"
#include "discovery/cycle_snapshot.h"
#include "discovery/miniport.h"
#include "model/physical_adapter.h"
#include "platform/platform.h"
#include "publish/registry_key.h"

namespace crv {
namespace {

const char16_t kNetworkClassKey[] =
    u"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr uint8_t kFamilyVendorDuplex = 10;
constexpr uint32_t kConfigUnknown = 1;
constexpr uint32_t kConfigAuto = 2;
constexpr uint32_t kConfig10GFull = 9;

struct CodeMapping {
  int32_t value;
  uint32_t code;
};

constexpr CodeMapping kSpeedDuplexCodes[] = {{0, 2}, {1, 3}, {2, 4}, {3, 5},
                                             {4, 6}, {5, 1}, {6, 8}};
constexpr CodeMapping kRequestedMediaTypeCodes[] = {
    {0, 2},    {3, 3},    {4, 4},       {5, 5},       {6, 6},        {8, 8},
    {12, 8},   {258, 4},  {514, 6},     {4099, 3},    {4100, 4},     {4101, 5},
    {4102, 6}, {8200, 8}, {0x10102, 3}, {0x1020C, 5}, {0x1000302, 8}};

uint32_t Lookup(const CodeMapping* table, size_t count, int32_t value) {
  for (size_t i = 0; i < count; ++i) {
    if (table[i].value == value) return table[i].code;
  }
  return kConfigUnknown;
}

// A decimal text as _wtoi reads it: leading blanks, a sign, digits; 0 when there are none.
int32_t TextToInt(const char16_t* text) {
  while (*text == u' ' || *text == u'\t') ++text;
  bool negative = *text == u'-';
  if (*text == u'-' || *text == u'+') ++text;
  int64_t value = 0;
  while (*text >= u'0' && *text <= u'9') {
    value = value * 10 + (*text - u'0');
    if (value > 0x80000000LL) value = 0x80000000LL;  // saturates, as the C runtime does
    ++text;
  }
  if (negative) value = -value;
  if (value > 0x7FFFFFFF) value = 0x7FFFFFFF;
  return static_cast<int32_t>(value);
}

// The value as a number: a text is converted, a DWORD taken as it is. False when unreadable.
bool ReadKeyword(CRegistryKey& key, const char16_t* name, int32_t* number) {
  uint32_t type = 0, length = 0;
  uint8_t* data = key.QueryValue(name, &type, &length, false);
  if (data == nullptr) return false;
  bool read = true;
  if ((type == platform::kRegSz || type == platform::kRegExpandSz) && length >= 2) {
    // Bounded: the text ends at its terminator or at the end of the data.
    char16_t text[32] = {};
    size_t chars = length / 2 < 31 ? length / 2 : 31;
    for (size_t i = 0; i < chars; ++i)
      text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    *number = TextToInt(text);
  } else if (type == platform::kRegDword && length >= 4) {
    *number = static_cast<int32_t>(data[0] | (data[1] << 8) | (data[2] << 16) |
                                   (static_cast<uint32_t>(data[3]) << 24));
  } else {
    read = false;
  }
  FreeBlock(data);
  return read;
}

uint32_t CodeFromKeywords(CRegistryKey& adapterKey, uint8_t driverFamily) {
  int32_t value = 0;
  if (ReadKeyword(adapterKey, u"*SpeedDuplex", &value)) {
    if (value >= 0 && value <= 7) return static_cast<uint32_t>(value) + 2;
    return value == -2130705662 ? 8 : kConfigUnknown;  // 0x81000302
  }
  if (ReadKeyword(adapterKey, u"SpeedDuplex", &value)) {
    return Lookup(kSpeedDuplexCodes, std::size(kSpeedDuplexCodes), value);
  }
  if (ReadKeyword(adapterKey, u"RequestedMediaType", &value) ||
      ReadKeyword(adapterKey, u"req_medium", &value)) {
    return Lookup(kRequestedMediaTypeCodes, std::size(kRequestedMediaTypeCodes), value);
  }
  return driverFamily == kFamilyVendorDuplex ? kConfig10GFull : kConfigAuto;
}

}  // namespace

uint32_t CPhysicalAdapter::GetSpeedDuplexConfig(const char16_t* guid, CycleSnapshot* cycle) {
  // Within a publication cycle the class key is read once for all ports.
  if (cycle != nullptr) {
    bool found = false;
    CRegistryKey* adapterKey = nullptr;
    if (cycle->OpenClassSubkey(guid, &found, &adapterKey)) {
      uint32_t code =
          found ? CodeFromKeywords(*adapterKey, miniport_->DriverFamily()) : kConfigUnknown;
      DeleteObject(adapterKey);
      return code;
    }
  }
  CRegistryKey classKey = RootKey().Open(kNetworkClassKey, platform::kKeyRead, true);
  if (classKey.LastError() != 0) return kConfigUnknown;
  for (;;) {
    int32_t status = classKey.EnumNextSubKey().LastError();
    if (status == static_cast<int32_t>(platform::kErrorNoMoreItems)) return kConfigUnknown;
    if (status == static_cast<int32_t>(platform::kErrorMoreData)) continue;
    if (status != 0) {
      Report(kReportKeyNotOpened, u"Enum Failed", static_cast<uint32_t>(status));
      return kConfigUnknown;
    }
    CRegistryKey adapterKey = classKey.Open(classKey.EnumName(), platform::kKeyRead, true);
    if (adapterKey.LastError() != 0) return kConfigUnknown;
    char16_t instanceId[260] = {};
    adapterKey.QueryString(u"NetCfgInstanceID", instanceId, sizeof instanceId, false);
    if (guid != nullptr && EqualsNoCase(instanceId, guid)) {
      return CodeFromKeywords(adapterKey, miniport_->DriverFamily());
    }
  }
}

}  // namespace crv

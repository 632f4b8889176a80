#include "discovery/instance_id.h"

#include "common/text.h"

namespace crv {
namespace {

constexpr const char16_t* kManagedKinds[] = {
    u"PCI\\VEN",
    u"B06BDRV\\L2ND",
    u"EBDRV\\L2ND",
    u"QEBDRV\\L2ND",
    u"MLX4\\CONNECTX_ETH",
    u"MLX4\\CONNECTX-3_ETH",
    u"MLX4\\CONNECTX-3PRO_ETH",
    u"IBA\\IPOIB",
    u"IBA\\CONNECTX-3PRO_IPOIB",
    u"VEN_1924",
    u"IBA\\CONNECTX-3_IPOIB",
};

constexpr const char16_t* kMellanoxKinds[] = {
    u"IBA\\IPOIB",         u"IBA\\CONNECTX-3_IPOIB", u"IBA\\CONNECTX-3PRO_IPOIB",
    u"MLX4\\CONNECTX_ETH", u"MLX4\\CONNECTX-3_ETH",  u"MLX4\\CONNECTX-3PRO_ETH",
};

constexpr char16_t kPciForm[] = u"PCI\\VEN_%x&DEV_%x&SUBSYS_%x&REV_%x";
constexpr const char16_t* kVirtualBusForms[] = {
    u"B06BDRV\\L2ND&PCI_%x&SUBSYS_%x&REV_%x",
    u"EBDRV\\L2ND&PCI_%x&SUBSYS_%x&REV_%x",
    u"QEBDRV\\L2ND&PCI_%x&SUBSYS_%x&REV_%x",
};

bool IsBlank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

int DigitValue(char16_t c, uint32_t base) {
  int value = -1;
  if (c >= u'0' && c <= u'9') value = c - u'0';
  if (c >= u'a' && c <= u'f') value = c - u'a' + 10;
  if (c >= u'A' && c <= u'F') value = c - u'A' + 10;
  return value >= 0 && static_cast<uint32_t>(value) < base ? value : -1;
}

// One number conversion at *position; false when no digit is there. The value wraps at 32
// bits, and a minus sign negates it, as the runtime stores into a 32-bit field.
bool ScanNumber(const char16_t*& position, uint32_t base, uint32_t* value) {
  const char16_t* p = position;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == u'+' || *p == u'-') negative = *p++ == u'-';
  if (base == 16 && p[0] == u'0' && (p[1] == u'x' || p[1] == u'X') && DigitValue(p[2], 16) >= 0) {
    p += 2;
  }
  if (DigitValue(*p, base) < 0) return false;
  uint32_t number = 0;
  for (int digit; (digit = DigitValue(*p, base)) >= 0; ++p) {
    number = number * base + static_cast<uint32_t>(digit);
  }
  *value = negative ? 0u - number : number;
  position = p;
  return true;
}

bool ContainsAny(const char16_t* text, const char16_t* const* parts, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (ContainsText(text, parts[i])) return true;
  }
  return false;
}

bool ScanIdentifiers(const char16_t* text, const char16_t* form, bool withDevice,
                     PciIdentifiers* ids) {
  uint32_t first = 0, second = 0, third = 0, fourth = 0;
  if (withDevice) {
    uint32_t* fields[] = {&first, &second, &third, &fourth};
    if (ScanText(text, form, fields, 4) != 4) return false;
    ids->pciId = (first << 16) + second;
    ids->subsystemId = third;
  } else {
    uint32_t* fields[] = {&first, &second, &third};
    if (ScanText(text, form, fields, 3) != 3) return false;
    ids->pciId = first;
    ids->subsystemId = second;
  }
  return true;
}

}  // namespace

int ScanText(const char16_t* text, const char16_t* pattern, uint32_t* const* fields,
             int fieldCount) {
  if (text == nullptr || pattern == nullptr) return 0;
  int stored = 0;
  const char16_t* p = text;
  for (const char16_t* f = pattern; *f != 0; ++f) {
    if (IsBlank(*f)) {
      while (IsBlank(*p)) ++p;
      continue;
    }
    if (*f == u'%' && (f[1] == u'x' || f[1] == u'd')) {
      if (stored == fieldCount) break;
      uint32_t value = 0;
      if (!ScanNumber(p, f[1] == u'x' ? 16 : 10, &value)) break;
      *fields[stored++] = value;
      ++f;
      continue;
    }
    if (*f == u'%' && f[1] == u'%') ++f;
    if (*p != *f) break;
    ++p;
  }
  return stored;
}

bool IsManagedInstanceId(const char16_t* upperInstanceId) {
  return ContainsAny(upperInstanceId, kManagedKinds,
                     sizeof kManagedKinds / sizeof kManagedKinds[0]);
}

bool IsSolarflareInstanceId(const char16_t* upperInstanceId) {
  return ContainsText(upperInstanceId, u"VEN_1924");
}

bool IsMellanoxInstanceId(const char16_t* upperInstanceId) {
  return ContainsAny(upperInstanceId, kMellanoxKinds,
                     sizeof kMellanoxKinds / sizeof kMellanoxKinds[0]);
}

bool ParseInstanceIdentifiers(const char16_t* upperInstanceId, PciIdentifiers* ids) {
  if (ScanIdentifiers(upperInstanceId, kPciForm, true, ids)) return true;
  for (const char16_t* form : kVirtualBusForms) {
    if (ScanIdentifiers(upperInstanceId, form, false, ids)) return true;
  }
  return false;
}

bool ParsePciHardwareId(const char16_t* hardwareId, PciIdentifiers* ids) {
  return ScanIdentifiers(hardwareId, kPciForm, true, ids);
}

void ParseMellanoxPort(const char16_t* location, uint32_t* port) {
  uint32_t bus = 0, device = 0, function = 0;
  uint32_t* fields[] = {&bus, &device, &function, port};
  ScanText(location, u"MLX4 bus %x, device %x, function %x, port %x", fields, 4);
}

void ParseParentLocation(const char16_t* location, uint32_t* bus, uint32_t* device,
                         uint32_t* function) {
  uint32_t* fields[] = {bus, device, function};
  ScanText(location, u"PCI bus %d, device %d, function %d", fields, 3);
}

}  // namespace crv

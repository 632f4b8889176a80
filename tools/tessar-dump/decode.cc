// Recognises each value of the tree by its key and name and decodes the records field by
// field. The field tables are built from the agent's own record declarations, so the decoder
// reads exactly the offsets the agent writes.
#include <cstddef>
#include <string>

#include "ascii_text.h"
#include "common/utf.h"
#include "format_text.h"
#include "publish/records.h"
#include "tessar_decode.h"

namespace tessar {
namespace {

struct Meaning {
  uint32_t code;
  const char* text;
};

using Meanings = std::vector<Meaning>;

const Meanings kConditions = {{1, "other"}, {2, "ok"}, {4, "failed"}};
const Meanings kLinkConditions = {{1, "unknown"}, {2, "ok"}, {4, "link failure"}};
const Meanings kInterfaceStatus = {{1, "other"}, {2, "link ok"}, {5, "link failure"}};
const Meanings kGrouping = {{1, "not yet known"}, {2, "single adapter"}, {4, "team"}};
const Meanings kDuplex = {{1, "unknown"}, {2, "half duplex"}, {3, "full duplex"}};
const Meanings kAddressAssignment = {{1, "DHCP enabled"}, {2, "DHCP not enabled"}};
const Meanings kTeamRole = {{255, "not in a team"}};
const Meanings kTrapCodes = {{crv::kTrapConnectivityLost, "connectivity lost"},
                             {crv::kTrapConnectivityRegained, "connectivity regained"},
                             {crv::kTrapRedundancyIncreased, "redundancy increased"},
                             {crv::kTrapRedundancyReduced, "redundancy reduced"}};

struct FieldLayout {
  const char* name;
  size_t offset;
  size_t width;
  FieldKind kind;
  const Meanings* meanings = nullptr;
  bool hasExpected = false;
  uint32_t expected = 0;  // for kBytes: every byte 0
};

FieldLayout WithMeanings(FieldLayout layout, const Meanings& meanings) {
  layout.meanings = &meanings;
  return layout;
}

FieldLayout Expecting(FieldLayout layout, uint32_t value) {
  layout.hasExpected = true;
  layout.expected = value;
  return layout;
}

#define FIELD(Record, member, kind) \
  FieldLayout { #member, offsetof(crv::Record, member), sizeof(crv::Record::member), kind }

using K = FieldKind;

struct RecordLayout {
  const char* kind;
  const char* title;
  size_t size;
  std::vector<FieldLayout> fields;
};

const RecordLayout& IfTableInformationLayout() {
  static const RecordLayout layout{
      "IfTableInformation",
      "overall condition",
      sizeof(crv::IfTableInformationRecord),
      {WithMeanings(FIELD(IfTableInformationRecord, overallCondition, K::kU8), kConditions)}};
  return layout;
}

const RecordLayout& MibStatsLayout() {
  static const RecordLayout layout{
      "MibStats",
      "MIB header record",
      sizeof(crv::MibStatsRecord),
      {Expecting(FIELD(MibStatsRecord, headerMark, K::kU8), crv::kMibStatsHeaderMark),
       WithMeanings(FIELD(MibStatsRecord, overallCondition, K::kU8), kConditions),
       FIELD(MibStatsRecord, pollIntervalSeconds, K::kU32)}};
  return layout;
}

const RecordLayout& SoftwareRevisionsLayout() {
  static const RecordLayout layout{
      "SoftwareRevisions",
      "software revisions",
      sizeof(crv::SoftwareRevisionsRecord),
      {Expecting(FIELD(SoftwareRevisionsRecord, revisionMark, K::kU8), crv::kSoftwareRevisionMark),
       Expecting(FIELD(SoftwareRevisionsRecord, separator, K::kChar),
                 static_cast<uint8_t>(crv::kSoftwareRevisionSeparator)),
       Expecting(FIELD(SoftwareRevisionsRecord, unused, K::kBytes), 0)}};
  return layout;
}

const RecordLayout& InterfaceMapLayout() {
  static const RecordLayout layout{
      "InterfaceMap",
      "interface record",
      sizeof(crv::InterfaceMapRecord),
      {FIELD(InterfaceMapRecord, interfaceMapNumber, K::kU32),
       FIELD(InterfaceMapRecord, memberCount, K::kU32),
       FIELD(InterfaceMapRecord, memberIndexes, K::kU32List),
       FIELD(InterfaceMapRecord, description, K::kText),
       WithMeanings(FIELD(InterfaceMapRecord, grouping, K::kU8), kGrouping),
       FIELD(InterfaceMapRecord, portCount, K::kU8),
       FIELD(InterfaceMapRecord, portsWithLink, K::kU8),
       FIELD(InterfaceMapRecord, portNumbers, K::kU8List),
       FIELD(InterfaceMapRecord, macAddress, K::kMac),
       Expecting(FIELD(InterfaceMapRecord, fixedOne, K::kU8), 1),
       WithMeanings(FIELD(InterfaceMapRecord, condition, K::kU8), kConditions),
       WithMeanings(FIELD(InterfaceMapRecord, status, K::kU8), kInterfaceStatus),
       Expecting(FIELD(InterfaceMapRecord, reserved548, K::kU32), 0),
       Expecting(FIELD(InterfaceMapRecord, reserved552, K::kU8), 0),
       FIELD(InterfaceMapRecord, speedBitsPerSecond, K::kU32),
       FIELD(InterfaceMapRecord, ipv4Address, K::kIpv4),
       FIELD(InterfaceMapRecord, vlanCount, K::kU8),
       FIELD(InterfaceMapRecord, vlanMapNumbers, K::kU8List),
       FIELD(InterfaceMapRecord, lastChangeTime, K::kU32),
       Expecting(FIELD(InterfaceMapRecord, reserved630, K::kU32), 0),
       FIELD(InterfaceMapRecord, ipv6Address, K::kText),
       FIELD(InterfaceMapRecord, connectionName, K::kText),
       WithMeanings(FIELD(InterfaceMapRecord, addressAssignment, K::kU8), kAddressAssignment)}};
  return layout;
}

const RecordLayout& VlanMapLayout() {
  static const RecordLayout layout{
      "VlanMap",
      "VLAN record",
      sizeof(crv::VlanMapRecord),
      {FIELD(VlanMapRecord, vlanMapNumber, K::kU32),
       FIELD(VlanMapRecord, interfaceMapNumber, K::kU32),
       FIELD(VlanMapRecord, interfaceIndex, K::kU32), FIELD(VlanMapRecord, vlanIndicator, K::kU32),
       FIELD(VlanMapRecord, reservedText16, K::kText),
       FIELD(VlanMapRecord, reservedText528, K::kText),
       FIELD(VlanMapRecord, connectionName, K::kText)}};
  return layout;
}

const RecordLayout& StatisticsLayout() {
  static const RecordLayout layout{"Statistics",
                                   "Ethernet statistics record",
                                   sizeof(crv::StatisticsRecord),
                                   {FIELD(StatisticsRecord, interfaceIndex, K::kU32),
                                    FIELD(StatisticsRecord, alignmentErrors, K::kU32),
                                    FIELD(StatisticsRecord, fcsErrors, K::kU32),
                                    FIELD(StatisticsRecord, singleCollisionFrames, K::kU32),
                                    FIELD(StatisticsRecord, multipleCollisionFrames, K::kU32),
                                    Expecting(FIELD(StatisticsRecord, sqeTestErrors, K::kU32), 0),
                                    FIELD(StatisticsRecord, deferredTransmissions, K::kU32),
                                    FIELD(StatisticsRecord, lateCollisions, K::kU32),
                                    FIELD(StatisticsRecord, excessiveCollisions, K::kU32),
                                    FIELD(StatisticsRecord, internalMacTransmitErrors, K::kU32),
                                    FIELD(StatisticsRecord, carrierSenseErrors, K::kU32),
                                    FIELD(StatisticsRecord, frameTooLongs, K::kU32),
                                    FIELD(StatisticsRecord, internalMacReceiveErrors, K::kU32)}};
  return layout;
}

const RecordLayout& PhysAdapterLayout() {
  static const RecordLayout layout{
      "PhysAdapter",
      "physical port record",
      sizeof(crv::PhysAdapterRecord),
      {FIELD(PhysAdapterRecord, portNumber, K::kU32),
       FIELD(PhysAdapterRecord, interfaceIndex, K::kU32),
       WithMeanings(FIELD(PhysAdapterRecord, teamRole, K::kU8), kTeamRole),
       FIELD(PhysAdapterRecord, macAddress, K::kMac),
       FIELD(PhysAdapterRecord, slotNumber, K::kU32),
       FIELD(PhysAdapterRecord, ioBase, K::kU32),
       FIELD(PhysAdapterRecord, resourceValue, K::kU32),
       FIELD(PhysAdapterRecord, memoryBase, K::kU32),
       Expecting(FIELD(PhysAdapterRecord, reserved31, K::kU32), crv::kAllOnes),
       FIELD(PhysAdapterRecord, portInCard, K::kU8),
       WithMeanings(FIELD(PhysAdapterRecord, duplex, K::kU8), kDuplex),
       WithMeanings(FIELD(PhysAdapterRecord, linkCondition, K::kU8), kLinkConditions),
       FIELD(PhysAdapterRecord, conditionCopies, K::kU8List),
       Expecting(FIELD(PhysAdapterRecord, fixedOne, K::kU8), 1),
       FIELD(PhysAdapterRecord, framesTransmittedOk, K::kU32),
       FIELD(PhysAdapterRecord, framesReceivedOk, K::kU32),
       FIELD(PhysAdapterRecord, transmitErrorSum, K::kU32),
       FIELD(PhysAdapterRecord, receiveErrorSum, K::kU32),
       FIELD(PhysAdapterRecord, alignmentErrors, K::kU32),
       FIELD(PhysAdapterRecord, fcsErrors, K::kU32),
       FIELD(PhysAdapterRecord, singleCollisionFrames, K::kU32),
       FIELD(PhysAdapterRecord, multipleCollisionFrames, K::kU32),
       FIELD(PhysAdapterRecord, deferredTransmissions, K::kU32),
       FIELD(PhysAdapterRecord, lateCollisions, K::kU32),
       FIELD(PhysAdapterRecord, excessiveCollisions, K::kU32),
       FIELD(PhysAdapterRecord, internalMacTransmitErrors, K::kU32),
       FIELD(PhysAdapterRecord, carrierSenseErrors, K::kU32),
       Expecting(FIELD(PhysAdapterRecord, frameTooLongs, K::kU32), 0),
       FIELD(PhysAdapterRecord, internalMacReceiveErrors, K::kU32),
       FIELD(PhysAdapterRecord, pciIdentity, K::kText),
       FIELD(PhysAdapterRecord, partNumber, K::kText),
       FIELD(PhysAdapterRecord, linkSpeed, K::kU32),
       FIELD(PhysAdapterRecord, receivedOctets, K::kU32),
       FIELD(PhysAdapterRecord, sentOctets, K::kU32),
       FIELD(PhysAdapterRecord, speedDuplexConfig, K::kU32),
       Expecting(FIELD(PhysAdapterRecord, reserved406, K::kU32), crv::kAllOnes),
       FIELD(PhysAdapterRecord, deviceDescription, K::kText),
       FIELD(PhysAdapterRecord, inventoryValue1, K::kU32),
       FIELD(PhysAdapterRecord, firmwareVersion, K::kText),
       FIELD(PhysAdapterRecord, inventoryValue2, K::kU32),
       FIELD(PhysAdapterRecord, pciLocation, K::kText)}};
  return layout;
}

const RecordLayout& TrapLayout() {
  static const RecordLayout layout{
      "TrapData",
      "trap record",
      sizeof(crv::TrapRecord),
      {WithMeanings(FIELD(TrapRecord, trapCode, K::kU32), kTrapCodes),
       Expecting(FIELD(TrapRecord, recordMark, K::kU32), crv::kTrapRecordMark),
       FIELD(TrapRecord, teamInterfaceMapNumber, K::kU32), FIELD(TrapRecord, portNumber, K::kU32),
       FIELD(TrapRecord, slotNumber, K::kU32), FIELD(TrapRecord, portInCard, K::kU8),
       FIELD(TrapRecord, teamPortsWithLink, K::kU8),
       Expecting(FIELD(TrapRecord, reserved22, K::kU8), 0),
       FIELD(TrapRecord, reservedText, K::kText),
       WithMeanings(FIELD(TrapRecord, portCondition, K::kU8), kLinkConditions),
       FIELD(TrapRecord, deviceDescription, K::kText), FIELD(TrapRecord, partNumber, K::kText),
       FIELD(TrapRecord, ipv4Address, K::kIpv4), FIELD(TrapRecord, ipv6Address, K::kText),
       FIELD(TrapRecord, pciBus, K::kU32), FIELD(TrapRecord, pciDevice, K::kU32),
       FIELD(TrapRecord, interfacePortsWithLink, K::kU32),
       FIELD(TrapRecord, interfaceMacAddress, K::kMac)}};
  return layout;
}

#undef FIELD

// --- Texts ---------------------------------------------------------------------------------

void AppendEscapedByte(std::string& out, uint8_t b) {
  if (b == '\\') {
    out += "\\\\";
  } else if (b >= 0x20 && b < 0x7F) {
    out.push_back(static_cast<char>(b));
  } else {
    out += Format("\\x%02X", b);
  }
}

// A UTF-16 code unit sequence as printable UTF-8: control characters as \xNN, unpaired
// surrogates as \uNNNN, '\' doubled.
std::string DisplayUtf16(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    bool high = c >= 0xD800 && c <= 0xDBFF;
    bool low = c >= 0xDC00 && c <= 0xDFFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      out += crv::Utf16ToUtf8(text.substr(i, 2));
      ++i;
    } else if (high || low) {
      out += Format("\\u%04X", static_cast<unsigned>(c));
    } else if (c < 0x80) {
      AppendEscapedByte(out, static_cast<uint8_t>(c));
    } else if (c < 0xA0) {
      out += Format("\\u%04X", static_cast<unsigned>(c));
    } else {
      out += crv::Utf16ToUtf8(text.substr(i, 1));
    }
  }
  return out;
}

uint32_t ReadU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

std::string HexBytes(const uint8_t* p, size_t n) {
  std::string out;
  out.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) out += Format("%02x", p[i]);
  return out;
}

}  // namespace

std::string FileTimeText(uint64_t fileTime) {
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
  int64_t seconds = static_cast<int64_t>(fileTime / 10000000) - kSecondsFrom1601To1970;
  unsigned milliseconds = static_cast<unsigned>(fileTime / 10000 % 1000);
  int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  int64_t secondOfDay = seconds - days * 86400;
  // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t dayOfEra = z - era * 146097;
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t mp = (5 * dayOfYear + 2) / 153;
  int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  int64_t month = mp < 10 ? mp + 3 : mp - 9;
  int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  return Format("%04lld-%02lld-%02lld %02lld:%02lld:%02lld.%03u UTC", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day),
                static_cast<long long>(secondOfDay / 3600),
                static_cast<long long>(secondOfDay / 60 % 60),
                static_cast<long long>(secondOfDay % 60), milliseconds);
}

namespace {

// --- Fields --------------------------------------------------------------------------------

DecodedField DecodeField(const FieldLayout& layout, const uint8_t* record) {
  DecodedField field;
  field.name = layout.name;
  field.offset = static_cast<uint32_t>(layout.offset);
  field.width = static_cast<uint32_t>(layout.width);
  field.kind = layout.kind;
  const uint8_t* p = record + layout.offset;
  switch (layout.kind) {
    case FieldKind::kU8:
    case FieldKind::kChar:
      field.number = p[0];
      break;
    case FieldKind::kU32:
      field.number = ReadU32(p);
      break;
    case FieldKind::kText: {
      size_t n = 0;
      while (n < layout.width && p[n] != 0) ++n;
      field.unterminated = n == layout.width;
      for (size_t i = 0; i < n; ++i) AppendEscapedByte(field.text, p[i]);
      break;
    }
    case FieldKind::kMac:
      for (size_t i = 0; i < layout.width; ++i) field.text += Format(i ? ":%02X" : "%02X", p[i]);
      break;
    case FieldKind::kIpv4:
      field.text = Format("%u.%u.%u.%u", p[0], p[1], p[2], p[3]);
      break;
    case FieldKind::kU8List:
      for (size_t i = 0; i < layout.width; ++i) field.numbers.push_back(p[i]);
      break;
    case FieldKind::kU32List:
      for (size_t i = 0; i + 4 <= layout.width; i += 4) field.numbers.push_back(ReadU32(p + i));
      break;
    case FieldKind::kBytes: {
      size_t n = layout.width;
      while (n > 0 && p[n - 1] == 0) --n;
      field.text = HexBytes(p, n);
      break;
    }
  }
  if (layout.kind == FieldKind::kChar && field.number >= 0x20 && field.number < 0x7F) {
    field.meaning = Format("'%c'", static_cast<char>(field.number));
  }
  if (layout.meanings != nullptr) {
    for (const Meaning& m : *layout.meanings) {
      if (m.code == field.number) field.meaning = m.text;
    }
  }
  return field;
}

// A note when a field that always holds one value holds another.
void CheckExpected(const FieldLayout& layout, const DecodedField& field,
                   std::vector<std::string>& notes) {
  if (!layout.hasExpected) return;
  if (layout.kind == FieldKind::kBytes) {
    if (!field.text.empty()) notes.push_back(Format("%s is not all zero", layout.name));
  } else if (field.number != layout.expected) {
    notes.push_back(Format("%s is %u, expected %u", layout.name, field.number, layout.expected));
  }
}

// --- Values --------------------------------------------------------------------------------

enum class Shape { kRecord, kDword, kFileTime, kString };

struct Rule {
  const char* keyPath;  // below the tree root; "Trap_*" for any trap key
  const char* name;     // exact name, or the prefix of a numbered or trap name
  enum { kExact, kNumbered, kTrapTime } naming;
  Shape shape;
  const RecordLayout& (*record)();  // null for single values
  const char* kind;                 // for single values
  const char* title;
};

const std::vector<Rule>& Rules() {
  static const std::vector<Rule> rules = {
      {"", "Status", Rule::kExact, Shape::kDword, nullptr, "Status", "tree status"},
      {"", "TrapRecordsRemoved", Rule::kExact, Shape::kDword, nullptr, "TrapRecordsRemoved",
       "trap records the agent removed to keep each trap key within its limit"},
      {"Interface", "InterfaceData_Ready", Rule::kExact, Shape::kDword, nullptr,
       "InterfaceData_Ready", "refresh state: 0 while a cycle rewrites the tree, 1 after"},
      {"Interface", "InterfaceData_CycleTime", Rule::kExact, Shape::kFileTime, nullptr,
       "InterfaceData_CycleTime", "when the last cycle finished (UTC)"},
      {"Interface", "IfTableInformation", Rule::kExact, Shape::kRecord, IfTableInformationLayout,
       nullptr, nullptr},
      {"Interface", "MibStats", Rule::kExact, Shape::kRecord, MibStatsLayout, nullptr, nullptr},
      {"Interface", "SoftwareRevisions", Rule::kExact, Shape::kRecord, SoftwareRevisionsLayout,
       nullptr, nullptr},
      {"Interface\\LogInterfaceMap", "InterfaceMap", Rule::kNumbered, Shape::kRecord,
       InterfaceMapLayout, nullptr, nullptr},
      {"Interface\\PhysInterface", "PhysAdapter", Rule::kNumbered, Shape::kRecord,
       PhysAdapterLayout, nullptr, nullptr},
      {"Interface\\VlanInterface", "VlanMap", Rule::kNumbered, Shape::kRecord, VlanMapLayout,
       nullptr, nullptr},
      {"Interface\\BridgingInfo", "BridgeConnectionName", Rule::kExact, Shape::kString, nullptr,
       "BridgeConnectionName", "bridge connection name (written by another component)"},
      {"Interface\\BridgingInfo", "BridgeIfTableIndex", Rule::kExact, Shape::kDword, nullptr,
       "BridgeIfTableIndex", "bridge interface index (written by another component)"},
      {"Ethernet", "MibStats", Rule::kExact, Shape::kRecord, MibStatsLayout, nullptr, nullptr},
      {"Ethernet\\Statistics", "Statistics", Rule::kNumbered, Shape::kRecord, StatisticsLayout,
       nullptr, nullptr},
      {"Trap_*", "TrapData", Rule::kTrapTime, Shape::kRecord, TrapLayout, nullptr, nullptr},
  };
  return rules;
}

bool IsHexDigits(std::string_view text) {
  for (char c : text) {
    bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    if (!hex) return false;
  }
  return true;
}

bool KeyMatches(const Rule& rule, std::string_view relativePath) {
  std::string_view pattern = rule.keyPath;
  if (pattern == "Trap_*") {
    return StartsWithNoCase(relativePath, "Trap_") &&
           relativePath.find('\\') == std::string_view::npos;
  }
  return EqualsNoCase(relativePath, pattern);
}

bool NameMatches(const Rule& rule, std::string_view name) {
  switch (rule.naming) {
    case Rule::kExact:
      return EqualsNoCase(name, rule.name);
    case Rule::kNumbered: {
      if (!StartsWithNoCase(name, rule.name)) return false;
      std::string_view digits = name.substr(std::string_view(rule.name).size());
      return digits.size() >= 3 && IsHexDigits(digits);
    }
    case Rule::kTrapTime: {
      if (!StartsWithNoCase(name, rule.name)) return false;
      std::string_view digits = name.substr(std::string_view(rule.name).size());
      return digits.size() == 16 && IsHexDigits(digits);
    }
  }
  return false;
}

const Rule* FindRule(std::string_view relativePath, std::string_view name) {
  for (const Rule& rule : Rules()) {
    if (KeyMatches(rule, relativePath) && NameMatches(rule, name)) return &rule;
  }
  return nullptr;
}

std::vector<std::string> DecodeStrings(const std::vector<uint8_t>& data, uint32_t type,
                                       std::vector<std::string>& notes) {
  std::u16string units;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    units.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  }
  std::vector<std::string> texts;
  size_t start = 0;
  bool terminated = false;
  while (start < units.size()) {
    size_t end = units.find(u'\0', start);
    if (end == std::u16string::npos) {
      texts.push_back(DisplayUtf16(std::u16string_view(units).substr(start)));
      break;
    }
    if (end == start && type == platform::kRegMultiSz) {
      terminated = true;  // the empty text that ends the list
      break;
    }
    texts.push_back(DisplayUtf16(std::u16string_view(units).substr(start, end - start)));
    start = end + 1;
    if (type != platform::kRegMultiSz) {
      terminated = true;
      break;
    }
  }
  if (!terminated && !data.empty()) notes.push_back("the text has no terminator");
  if (data.size() % 2 != 0) notes.push_back("odd number of bytes for a UTF-16 text");
  return texts;
}

bool IsStringType(uint32_t type) {
  return type == platform::kRegSz || type == platform::kRegExpandSz ||
         type == platform::kRegMultiSz;
}

// Generic display of a value by its registry type.
void DecodeByType(DecodedValue& value) {
  if (value.type == platform::kRegDword && value.data.size() == 4) {
    value.dword = ReadU32(value.data.data());
  } else if (value.type == platform::kRegQword && value.data.size() == 8) {
    value.qword =
        static_cast<uint64_t>(ReadU32(value.data.data() + 4)) << 32 | ReadU32(value.data.data());
  } else if (IsStringType(value.type)) {
    value.strings = DecodeStrings(value.data, value.type, value.notes);
    if (value.data.size() % 2 != 0) value.showBytes = true;
  } else {
    value.showBytes = true;
  }
}

// A numbered record filed under another number's name is a problem: it would stand for the
// port or interface of that number a second time. A name that differs in case alone is noted.
void CheckRecordName(const Rule& rule, DecodedValue& value, std::string_view relativePath,
                     std::vector<std::string>& notes) {
  if (rule.naming == Rule::kNumbered) {
    uint32_t number = ReadU32(value.data.data());
    char16_t canonical[crv::kNumberedValueNameChars];
    std::u16string prefix = crv::Utf8ToUtf16(rule.name);
    crv::FormatNumberedValueName(prefix.c_str(), number, canonical, crv::kNumberedValueNameChars);
    std::string expected = crv::Utf16ToUtf8(canonical);
    std::string mismatch =
        Format("the record's number %u makes the name %s", number, expected.c_str());
    if (!EqualsNoCase(value.name, expected)) {
      value.problem = mismatch;
    } else if (value.name != expected) {
      notes.push_back(mismatch);
    }
  } else if (rule.naming == Rule::kTrapTime) {
    uint64_t fileTime = 0;
    for (char c : std::string_view(value.name).substr(8)) {
      fileTime = fileTime << 4 | static_cast<uint64_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    notes.push_back("raised " + FileTimeText(fileTime));
    uint32_t code = ReadU32(value.data.data());
    const char16_t* key = crv::TrapKeyName(code);
    std::string keyName = key != nullptr ? crv::Utf16ToUtf8(key) : std::string();
    if (!EqualsNoCase(keyName, relativePath)) {
      notes.push_back(key != nullptr
                          ? Format("trap code %u belongs under %s", code, keyName.c_str())
                          : Format("trap code %u is not a known trap", code));
    }
  }
}

}  // namespace

std::string TypeName(uint32_t type) {
  switch (type) {
    case platform::kRegNone:
      return "REG_NONE";
    case platform::kRegSz:
      return "REG_SZ";
    case platform::kRegExpandSz:
      return "REG_EXPAND_SZ";
    case platform::kRegBinary:
      return "REG_BINARY";
    case platform::kRegDword:
      return "REG_DWORD";
    case 5:
      return "REG_DWORD_BIG_ENDIAN";
    case 6:
      return "REG_LINK";
    case platform::kRegMultiSz:
      return "REG_MULTI_SZ";
    case platform::kRegQword:
      return "REG_QWORD";
    default:
      return "type " + std::to_string(type);
  }
}

DecodedValue DecodeValue(std::string_view relativePath, const RawValue& raw) {
  DecodedValue value;
  value.name = raw.name;
  value.type = raw.type;
  value.data = raw.data;
  const Rule* rule = FindRule(relativePath, raw.name);
  if (rule == nullptr) {
    DecodeByType(value);
    return value;
  }
  switch (rule->shape) {
    case Shape::kDword:
    case Shape::kFileTime: {
      value.kind = rule->kind;
      value.title = rule->title;
      const bool dword = rule->shape == Shape::kDword;
      const uint32_t type = dword ? platform::kRegDword : platform::kRegQword;
      const size_t size = dword ? 4 : 8;
      if (raw.type != type) {
        value.problem = "wrong type " + TypeName(raw.type) + ", expected " + TypeName(type);
      } else if (raw.data.size() != size) {
        value.problem = Format("wrong size %zu bytes, expected %zu", raw.data.size(), size);
      }
      break;
    }
    case Shape::kString:
      value.kind = rule->kind;
      value.title = rule->title;
      if (raw.type != platform::kRegSz) {
        value.problem = "wrong type " + TypeName(raw.type) + ", expected REG_SZ";
      }
      break;
    case Shape::kRecord: {
      const RecordLayout& layout = rule->record();
      value.kind = layout.kind;
      value.title = layout.title;
      if (raw.type != platform::kRegBinary) {
        value.problem = "wrong type " + TypeName(raw.type) + ", expected REG_BINARY";
      } else if (raw.data.size() != layout.size) {
        value.problem = Format("wrong size %zu bytes, expected %zu", raw.data.size(), layout.size);
      } else {
        for (const FieldLayout& field : layout.fields) {
          value.fields.push_back(DecodeField(field, raw.data.data()));
          CheckExpected(field, value.fields.back(), value.notes);
        }
        CheckRecordName(*rule, value, relativePath, value.notes);
      }
      value.showBytes = !value.problem.empty() && value.fields.empty();
      return value;
    }
  }
  if (value.problem.empty()) {
    DecodeByType(value);
  } else {
    value.showBytes = true;
  }
  return value;
}

namespace {

// The path below the tree key: below the last "TessarNetwork" in the path, so that a dump of
// one part of the tree, or of a key above it, is decoded the same way; else below the root.
std::string TreeRelativePath(const std::string& path, size_t rootLength) {
  constexpr std::string_view kTreeName = "TessarNetwork";
  size_t start = 0;
  bool found = false;
  for (size_t i = 0; i + kTreeName.size() <= path.size(); ++i) {
    bool starts = i == 0 || path[i - 1] == '\\';
    size_t end = i + kTreeName.size();
    bool ends = end == path.size() || path[end] == '\\';
    if (starts && ends &&
        EqualsNoCase(std::string_view(path).substr(i, kTreeName.size()), kTreeName)) {
      start = end;
      found = true;
    }
  }
  if (!found) start = rootLength;
  while (start < path.size() && path[start] == '\\') ++start;
  return start < path.size() ? path.substr(start) : std::string();
}

DecodedKey DecodeKey(const RawKey& raw, const std::string& path, size_t rootLength) {
  DecodedKey key;
  key.path = path;
  key.relativePath = TreeRelativePath(path, rootLength);
  key.isVolatile = raw.isVolatile;
  for (const RawValue& value : raw.values) {
    key.values.push_back(DecodeValue(key.relativePath, value));
  }
  for (const RawKey& child : raw.subkeys) {
    key.subkeys.push_back(DecodeKey(child, path + "\\" + child.name, rootLength));
  }
  return key;
}

}  // namespace

DecodedKey DecodeTree(const RawKey& root) { return DecodeKey(root, root.name, root.name.size()); }

}  // namespace tessar

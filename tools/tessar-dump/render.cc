// The decoded tree as a readable table or as JSON.
#include <algorithm>
#include <string>

#include "format_text.h"
#include "tessar_decode.h"

namespace tessar {
namespace {

// Length of the valid UTF-8 sequence at text[i] (2 to 4 bytes), or 0.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  auto b = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  uint8_t lead = b(i);
  size_t n = 0;
  uint32_t min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
    min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  uint32_t c = lead & (0x7Fu >> n);
  for (size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    c = c << 6 | (b(i + k) & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return n;
}

// Outside text (names from a dump or the registry) made printable: control characters and
// bytes that are not UTF-8 as \xNN. With json, also escaped for a JSON string.
std::string Printable(std::string_view text, bool json) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    auto c = static_cast<uint8_t>(text[i]);
    if (c >= 0x80) {
      size_t n = Utf8SequenceLength(text, i);
      if (n == 0) {
        out += Format(json ? "\\\\x%02X" : "\\x%02X", c);
        ++i;
      } else {
        out.append(text.substr(i, n));
        i += n;
      }
      continue;
    }
    ++i;
    if (json && (c == '"' || c == '\\')) {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20 || c == 0x7F) {
      out += Format(json ? "\\\\x%02X" : "\\x%02X", c);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string JsonString(std::string_view text) { return "\"" + Printable(text, true) + "\""; }

std::string Hex(const std::vector<uint8_t>& data) {
  std::string out;
  for (uint8_t b : data) out += Format("%02x", b);
  return out;
}

// --- Table ---------------------------------------------------------------------------------

constexpr int kFieldNameWidth = 26;

std::string ListText(const std::vector<uint32_t>& numbers) {
  size_t used = numbers.size();
  while (used > 0 && numbers[used - 1] == 0) --used;
  if (used == 0) return Format("%zu zeros", numbers.size());
  std::string out;
  for (size_t i = 0; i < used; ++i) out += (i ? " " : "") + std::to_string(numbers[i]);
  if (used < numbers.size()) out += Format(" (and %zu zeros)", numbers.size() - used);
  return out;
}

std::string FieldText(const DecodedField& field) {
  std::string out;
  switch (field.kind) {
    case FieldKind::kU8:
    case FieldKind::kChar:
      out = std::to_string(field.number);
      break;
    case FieldKind::kU32:
      out = std::to_string(field.number);
      if (field.number > 0xFFFF) out += Format(" (0x%08X)", field.number);
      break;
    case FieldKind::kText: {
      out = "\"";
      for (char c : field.text) {
        if (c == '"') out.push_back('\\');
        out.push_back(c);
      }
      out += "\"";
      if (field.unterminated) out += " (no terminator in the field)";
      break;
    }
    case FieldKind::kMac:
    case FieldKind::kIpv4:
      out = field.text;
      break;
    case FieldKind::kU8List:
    case FieldKind::kU32List:
      out = ListText(field.numbers);
      break;
    case FieldKind::kBytes:
      out = field.text.empty()
                ? "all zero"
                : field.text + Format(" (and %zu zero bytes)", field.width - field.text.size() / 2);
      break;
  }
  if (!field.meaning.empty()) out += " (" + field.meaning + ")";
  return out;
}

void AppendHexLines(const std::vector<uint8_t>& data, std::string& out) {
  if (data.empty()) {
    out += "      (no data)\n";
    return;
  }
  bool skipping = false;
  for (size_t row = 0; row < data.size(); row += 16) {
    // A row like the one before it is shown once as "*", as hexdump does.
    bool repeats = row >= 16 && row + 16 <= data.size() &&
                   std::equal(data.begin() + static_cast<ptrdiff_t>(row - 16),
                              data.begin() + static_cast<ptrdiff_t>(row),
                              data.begin() + static_cast<ptrdiff_t>(row));
    if (repeats) {
      if (!skipping) out += "      *\n";
      skipping = true;
      continue;
    }
    skipping = false;
    out += Format("      %04zx ", row);
    for (size_t i = row; i < row + 16 && i < data.size(); ++i) out += Format(" %02x", data[i]);
    out += "\n";
  }
}

std::string StringsText(const std::vector<std::string>& texts) {
  std::string out;
  for (size_t i = 0; i < texts.size(); ++i) {
    out += (i ? ", \"" : "\"");
    for (char c : texts[i]) {
      if (c == '"') out.push_back('\\');
      out.push_back(c);
    }
    out += "\"";
  }
  return texts.empty() ? "(no text)" : out;
}

void AppendValueTable(const DecodedValue& value, std::string& out) {
  std::string head = "  " + Printable(value.name, false);
  std::string about = TypeName(value.type) +
                      Format(", %zu byte%s", value.data.size(), value.data.size() == 1 ? "" : "s");
  if (!value.title.empty()) about += ": " + value.title;
  if (value.dword && value.problem.empty()) {
    head += " = " + std::to_string(*value.dword);
  } else if (value.qword && value.problem.empty()) {
    head += " = " + std::to_string(*value.qword);
    if (value.kind == "InterfaceData_CycleTime") head += " (" + FileTimeText(*value.qword) + ")";
  } else if (value.strings && value.problem.empty()) {
    head += " = " + StringsText(*value.strings);
  }
  out += head + "  (" + about + ")\n";
  if (!value.problem.empty()) out += "      problem: " + value.problem + "\n";
  for (const DecodedField& field : value.fields) {
    out += Format("    %5u  %-*s ", field.offset, kFieldNameWidth, field.name.c_str());
    out += FieldText(field) + "\n";
  }
  if (value.showBytes) AppendHexLines(value.data, out);
  for (const std::string& note : value.notes) out += "      note: " + note + "\n";
}

bool IsTrapKey(const DecodedKey& key) { return key.relativePath.rfind("Trap_", 0) == 0; }

size_t TrapRecordCount(const DecodedKey& key) {
  size_t n = 0;
  for (const DecodedValue& value : key.values) n += value.kind == "TrapData" ? 1 : 0;
  return n;
}

void AppendKeyTable(const DecodedKey& key, std::string& out) {
  if (!out.empty()) out += "\n";
  out += "[" + Printable(key.path, false) + "]";
  if (key.isVolatile) out += *key.isVolatile ? "  volatile" : "  not volatile";
  if (IsTrapKey(key)) out += Format("  %zu trap records", TrapRecordCount(key));
  out += "\n";
  for (const DecodedValue& value : key.values) AppendValueTable(value, out);
  for (const DecodedKey& child : key.subkeys) AppendKeyTable(child, out);
}

// --- JSON ----------------------------------------------------------------------------------

std::string Indent(int level) { return std::string(static_cast<size_t>(level) * 2, ' '); }

std::string JsonNumbers(const std::vector<uint32_t>& numbers) {
  std::string out = "[";
  for (size_t i = 0; i < numbers.size(); ++i) out += (i ? ", " : "") + std::to_string(numbers[i]);
  return out + "]";
}

std::string JsonField(const DecodedField& field) {
  switch (field.kind) {
    case FieldKind::kU8:
    case FieldKind::kU32:
    case FieldKind::kChar:
      return std::to_string(field.number);
    case FieldKind::kU8List:
    case FieldKind::kU32List:
      return JsonNumbers(field.numbers);
    case FieldKind::kText:
    case FieldKind::kMac:
    case FieldKind::kIpv4:
    case FieldKind::kBytes:
      return JsonString(field.text);
  }
  return "null";
}

void AppendValueJson(const DecodedValue& value, int level, std::string& out) {
  std::string in = Indent(level + 1);
  std::vector<std::string> members;
  members.push_back(in + "\"name\": " + JsonString(value.name));
  members.push_back(in + "\"type\": " + JsonString(TypeName(value.type)));
  members.push_back(in + "\"typeCode\": " + std::to_string(value.type));
  members.push_back(in + "\"size\": " + std::to_string(value.data.size()));
  if (!value.kind.empty()) members.push_back(in + "\"kind\": " + JsonString(value.kind));
  if (!value.title.empty()) members.push_back(in + "\"title\": " + JsonString(value.title));
  if (!value.problem.empty()) {
    members.push_back(in + "\"problem\": " + JsonString(value.problem));
  }
  if (value.dword && value.problem.empty()) {
    members.push_back(in + "\"value\": " + std::to_string(*value.dword));
  }
  if (value.qword && value.problem.empty()) {
    members.push_back(in + "\"value\": " + std::to_string(*value.qword));
  }
  if (value.strings && value.problem.empty()) {
    std::string texts;
    for (size_t i = 0; i < value.strings->size(); ++i) {
      texts += (i ? ", " : "") + JsonString((*value.strings)[i]);
    }
    bool single = value.type != platform::kRegMultiSz && value.strings->size() == 1;
    members.push_back(in + "\"value\": " + (single ? texts : "[" + texts + "]"));
  }
  if (!value.fields.empty()) {
    std::string fields = in + "\"fields\": {\n";
    for (size_t i = 0; i < value.fields.size(); ++i) {
      const DecodedField& field = value.fields[i];
      fields += Indent(level + 2) + JsonString(field.name) + ": " + JsonField(field);
      fields += i + 1 < value.fields.size() ? ",\n" : "\n";
    }
    members.push_back(fields + in + "}");
  }
  if (value.showBytes) members.push_back(in + "\"hex\": " + JsonString(Hex(value.data)));
  if (!value.notes.empty()) {
    std::string notes;
    for (size_t i = 0; i < value.notes.size(); ++i) {
      notes += (i ? ", " : "") + JsonString(value.notes[i]);
    }
    members.push_back(in + "\"notes\": [" + notes + "]");
  }
  out += Indent(level) + "{\n";
  for (size_t i = 0; i < members.size(); ++i) {
    out += members[i] + (i + 1 < members.size() ? ",\n" : "\n");
  }
  out += Indent(level) + "}";
}

void AppendKeyJson(const DecodedKey& key, int level, std::string& out) {
  std::string in = Indent(level + 1);
  out += Indent(level) + "{\n";
  out += in + "\"path\": " + JsonString(key.path) + ",\n";
  out += in + "\"volatile\": " + (key.isVolatile ? (*key.isVolatile ? "true" : "false") : "null");
  if (IsTrapKey(key))
    out += ",\n" + in + "\"trapRecords\": " + std::to_string(TrapRecordCount(key));
  out += ",\n" + in + "\"values\": [";
  for (size_t i = 0; i < key.values.size(); ++i) {
    out += i ? ",\n" : "\n";
    AppendValueJson(key.values[i], level + 2, out);
  }
  out += key.values.empty() ? "],\n" : "\n" + in + "],\n";
  out += in + "\"subkeys\": [";
  for (size_t i = 0; i < key.subkeys.size(); ++i) {
    out += i ? ",\n" : "\n";
    AppendKeyJson(key.subkeys[i], level + 2, out);
  }
  out += key.subkeys.empty() ? "]\n" : "\n" + in + "]\n";
  out += Indent(level) + "}";
}

}  // namespace

std::string PrintableText(std::string_view text) { return Printable(text, false); }

std::string RenderTable(const DecodedKey& root) {
  std::string out;
  AppendKeyTable(root, out);
  return out;
}

std::string RenderJson(const DecodedKey& root) {
  std::string out;
  AppendKeyJson(root, 0, out);
  return out + "\n";
}

}  // namespace tessar

// The management service's view of the published tree: a registry subtree read from a dump
// file or from the registry, every value recognised by its key and name, every record
// decoded field by field, and the result printed as a table or as JSON.
//
// Everything here reads outside data: no input makes it fail other than with an error
// message, and no byte is read outside the value that holds it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace tessar {

// --- The tree as read ----------------------------------------------------------------------

struct RawValue {
  std::string name;  // UTF-8
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

struct RawKey {
  std::string name;                // UTF-8; the root holds its whole path below HKEY_LOCAL_MACHINE
  std::optional<bool> isVolatile;  // unknown when read from the registry
  std::vector<RawValue> values;    // in the order the source lists them
  std::vector<RawKey> subkeys;
};

// Keys deeper than this below the root are refused (the registry allows 512 levels).
inline constexpr size_t kMaxKeyDepth = 512;

// Parses a registry dump written by the simulated server:
//
//   key "SYSTEM\\TessarNetwork" volatile
//   value "Status" 4 01000000
//
// one key line per key (its whole path, the first one being the root, each later one inside
// it) followed by the key's value lines (name, registry type in decimal, data in hex). Names
// are UTF-8 in double quotes, with '"' and '\' escaped by a backslash. Blank lines are
// ignored. An empty text holds no tree: *root is then left empty (nullopt).
struct ParseError {
  size_t line = 0;  // 1-based; 0 when not tied to a line
  std::string message;
};
bool ParseDump(std::string_view text, std::optional<RawKey>* root, ParseError* error);

// Reads the subtree at path (below base) through the platform's registry interface. Returns
// the status of opening the root: 0, or a Win32 error such as 2 when the tree is absent.
// Subkeys that vanish while they are read are left out.
int32_t ReadRegistryTree(platform::Registry& registry, platform::RegKey base, const char16_t* path,
                         RawKey* root);

// --- The tree as decoded -------------------------------------------------------------------

enum class FieldKind {
  kU8,      // number
  kU32,     // number
  kChar,    // one byte shown as a character
  kText,    // zero-terminated single-byte text inside the field
  kMac,     // six bytes
  kIpv4,    // four bytes in network order
  kU8List,  // numbers
  kU32List,
  kBytes,  // reserved area
};

struct DecodedField {
  std::string name;
  uint32_t offset = 0;
  uint32_t width = 0;  // bytes
  FieldKind kind = FieldKind::kU8;
  uint32_t number = 0;            // kU8, kU32, kChar
  std::vector<uint32_t> numbers;  // lists
  // kText: the text up to its terminator, '\' doubled and every byte outside printable
  // ASCII written as \xNN; kMac, kIpv4: formatted; kBytes: hex without trailing zero bytes.
  std::string text;
  bool unterminated = false;  // kText: no terminator inside the field
  std::string meaning;        // what a coded number stands for ("ok", "full duplex"), or ""
};

struct DecodedValue {
  std::string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  // What the key and name make this value: a record name ("InterfaceMap", "MibStats", ...),
  // "Status" and the like for single values, or "" for a value the tree does not define.
  std::string kind;
  std::string title;  // readable description of the kind, or ""
  // Set when the type or size does not fit the kind, or when a numbered record's number
  // does not fit its name (its fields are then still decoded). Such a value is left out of
  // the interfaces and ports an administrator is shown.
  std::string problem;
  std::vector<DecodedField> fields;                 // a record that fits
  std::optional<uint32_t> dword;                    // a REG_DWORD of four bytes
  std::optional<uint64_t> qword;                    // a REG_QWORD of eight bytes
  std::optional<std::vector<std::string>> strings;  // REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ texts
  bool showBytes = false;          // nothing above says what the bytes are: show them
  std::vector<std::string> notes;  // departures from what the agent writes
};

struct DecodedKey {
  std::string path;  // below HKEY_LOCAL_MACHINE
  // Below the tree key: below the last "TessarNetwork" in path, or, when path has none,
  // below the decoded root. "" for the tree key itself.
  std::string relativePath;
  std::optional<bool> isVolatile;
  std::vector<DecodedValue> values;
  std::vector<DecodedKey> subkeys;
};

// Decodes a tree whose root may be the tree key, a key inside it or a key above it.
DecodedKey DecodeTree(const RawKey& root);
// One value as found in the key at relativePath below the tree root ("Interface\\MibStats"
// lives at "Interface").
DecodedValue DecodeValue(std::string_view relativePath, const RawValue& value);

// Registry type name ("REG_BINARY"), or "type N" for a type without one.
std::string TypeName(uint32_t type);

// "2024-05-01 12:34:56.789 UTC" for a file time (100 ns units since 1601-01-01).
std::string FileTimeText(uint64_t fileTime);
// Text fit for a terminal: control characters and bytes that are not UTF-8 as \xNN.
std::string PrintableText(std::string_view text);

// --- Output --------------------------------------------------------------------------------

std::string RenderTable(const DecodedKey& root);
std::string RenderJson(const DecodedKey& root);

}  // namespace tessar

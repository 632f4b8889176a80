// Reading scenario JSON: typed field access that names the faulty field on error.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf.h"

namespace sim::scenario_json {

using nlohmann::json;

// A scenario error: the path of the field and what is wrong with it.
struct ScenarioError {
  std::string message;
};

[[noreturn]] inline void Bad(const std::string& where, const std::string& what) {
  throw ScenarioError{where + ": " + what};
}

// A key or value name that the registry would refuse (breach says which of its limits).
[[noreturn]] inline void BeyondRegistryLimits(const std::string& where, const std::string& breach) {
  Bad(where, breach + " (the registry refuses it: ERROR_INVALID_PARAMETER)");
}

// The most of one outside text (a name, a value) that a message repeats: a scenario can hold
// names of any length, and a message must stay one readable line.
inline constexpr size_t kClippedBytes = 64;

// The text, cut after kClippedBytes (at a character's start) with what was left out counted.
inline std::string Clip(std::string_view text) {
  if (text.size() <= kClippedBytes) return std::string(text);
  size_t end = kClippedBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end)) + "...(" + std::to_string(text.size() - end) +
         " bytes more)";
}

inline std::string Quoted(std::string_view text) { return "\"" + Clip(text) + "\""; }

// The path of an object's member named by the scenario ("registry[0].values.Name").
inline std::string Member(const std::string& where, std::string_view name) {
  return where + "." + Clip(name);
}

inline const json& Need(const json& object, const char* field, const std::string& where) {
  if (!object.is_object() || !object.contains(field))
    Bad(where, std::string("missing \"") + field + "\"");
  return object.at(field);
}

// The list in a field that must hold one.
inline const json& List(const json& object, const char* field, const std::string& where) {
  const json& list = Need(object, field, where);
  if (!list.is_array()) Bad(where + "." + field, "expected a list");
  return list;
}

inline std::string Text(const json& value, const std::string& where) {
  if (!value.is_string()) Bad(where, "expected a text");
  return value.get<std::string>();
}

inline uint64_t Number(const json& value, const std::string& where) {
  if (!value.is_number_unsigned() && !(value.is_number_integer() && value.get<int64_t>() >= 0)) {
    Bad(where, "expected a whole number of at least 0");
  }
  return value.get<uint64_t>();
}

inline uint32_t Number32(const json& value, const std::string& where) {
  uint64_t n = Number(value, where);
  if (n > 0xFFFFFFFFull) Bad(where, "does not fit in 32 bits");
  return static_cast<uint32_t>(n);
}

// A text, as UTF-16.
inline std::u16string Wide(const json& value, const std::string& where) {
  return crv::Utf8ToUtf16(Text(value, where));
}

// A number, or a text "0x..." (hexadecimal) or decimal.
inline uint32_t Hex32(const json& value, const std::string& where) {
  if (!value.is_string()) return Number32(value, where);
  std::string text = value.get<std::string>();
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > (hex ? 8u : 10u) ||
      digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
          std::string::npos) {
    Bad(where, "expected a number or a text like \"0x8086\"");
  }
  uint64_t n = std::stoull(digits, nullptr, hex ? 16 : 10);
  if (n > 0xFFFFFFFFull) Bad(where, "does not fit in 32 bits");
  return static_cast<uint32_t>(n);
}

// Bytes written as hexadecimal pairs, spaces between them allowed: "01 1b 00".
inline std::vector<uint8_t> HexBytes(const std::string& text, const std::string& where) {
  std::string hex;
  for (char c : text) {
    if (c != ' ') hex.push_back(c);
  }
  if (hex.size() % 2 != 0 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    Bad(where, "expected hexadecimal bytes like \"01 1b 00\"");
  }
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// Bytes as a list of numbers or as hexadecimal text (HexBytes).
inline std::vector<uint8_t> Bytes(const json& data, const std::string& where) {
  if (!data.is_array()) return HexBytes(Text(data, where), where);
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < data.size(); ++i) {
    uint64_t b = Number(data[i], where + "[" + std::to_string(i) + "]");
    if (b > 255) Bad(where, "byte above 255");
    bytes.push_back(static_cast<uint8_t>(b));
  }
  return bytes;
}

inline bool Flag(const json& value, const std::string& where) {
  if (!value.is_boolean()) Bad(where, "expected true or false");
  return value.get<bool>();
}

}  // namespace sim::scenario_json

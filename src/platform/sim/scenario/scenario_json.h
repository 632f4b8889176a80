// Reading scenario JSON: typed field access that names the faulty field on error.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
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

inline const json& Need(const json& object, const char* field, const std::string& where) {
  if (!object.is_object() || !object.contains(field))
    Bad(where, std::string("missing \"") + field + "\"");
  return object.at(field);
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

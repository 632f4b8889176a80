// Reading scenario JSON: typed field access that names the faulty field on error.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

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

inline bool Flag(const json& value, const std::string& where) {
  if (!value.is_boolean()) Bad(where, "expected true or false");
  return value.get<bool>();
}

}  // namespace sim::scenario_json

// Published records built field by field, their bytes as the registry holds them, and records
// and texts read back from a value's bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace crvtest {

template <class Record>
Record Zeroed() {
  Record record;
  std::memset(&record, 0, sizeof record);
  return record;
}

template <class Record>
std::vector<uint8_t> BytesOf(const Record& record) {
  std::vector<uint8_t> out(sizeof record);
  std::memcpy(out.data(), &record, sizeof record);
  return out;
}

// The record a value's bytes hold, when they have the record's size.
template <class Record>
std::optional<Record> RecordFrom(const std::vector<uint8_t>& bytes) {
  if (bytes.size() != sizeof(Record)) return std::nullopt;
  Record record;
  std::memcpy(&record, bytes.data(), sizeof record);
  return record;
}

// A string value's text as stored, its terminator included; an odd byte is dropped.
inline std::u16string TextFrom(const std::vector<uint8_t>& bytes) {
  std::u16string text(bytes.size() / 2, u'\0');
  std::memcpy(text.data(), bytes.data(), text.size() * 2);
  return text;
}

}  // namespace crvtest

// Published records built field by field in the unit suites, and their bytes as the registry
// holds them.
#pragma once

#include <cstdint>
#include <cstring>
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

}  // namespace crvtest

// The start-up link table: the link condition each port had when it was first seen, keyed
// by the port's device description (8-bit text, compared byte for byte).
#pragma once

#include <cstdint>

#include "common/list_index.h"

namespace crv {

class StartupLinkTable {
 public:
  StartupLinkTable() = default;
  StartupLinkTable(const StartupLinkTable&) = delete;
  StartupLinkTable& operator=(const StartupLinkTable&) = delete;
  ~StartupLinkTable() { Clear(); }

  // True and the condition when the description is in the table.
  bool Find(const char* description, uint8_t* condition) const;
  // Adds or replaces; false when the entry cannot be allocated.
  bool Set(const char* description, uint8_t condition);
  void Remove(const char* description);
  void Clear();
  uint32_t Count() const;

  static constexpr uint32_t kDescriptionBytes = 257;

 private:
  struct Entry {
    Entry* next;
    Entry* previous;
    char description[kDescriptionBytes];
    uint8_t condition;
  };
  // Files every entry when the index is not usable (and indexes are switched on).
  void EnsureIndex() const;
  // The entry with that description (through the index when there is one), or null.
  Entry* FindEntry(const char* description) const;

  // The entries in no particular order (none is observable): a new one goes first, so that
  // neither adding nor, through the index, finding and removing one walks the table.
  Entry* head_ = nullptr;
  mutable ListIndex byDescription_;  // the entries by description
};

}  // namespace crv

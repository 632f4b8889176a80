// The start-up link table: the link condition each port had when it was first seen, keyed
// by the port's device description (8-bit text, compared byte for byte).
#pragma once

#include <cstdint>

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
    char description[kDescriptionBytes];
    uint8_t condition;
  };
  Entry* head_ = nullptr;  // sorted by description
};

}  // namespace crv

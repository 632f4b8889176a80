#include "common/startup_link_table.h"

#include <cstring>

#include "common/alloc.h"

namespace crv {
namespace {
bool SameDescription(const char* a, const char* b) {
  return std::strncmp(a, b, StartupLinkTable::kDescriptionBytes - 1) == 0;
}

// Descriptions that compare equal hash alike: the bytes SameDescription looks at.
uint64_t HashDescription(const char* description) {
  return HashBytes(description, strnlen(description, StartupLinkTable::kDescriptionBytes - 1));
}
}  // namespace

void StartupLinkTable::EnsureIndex() const {
  if (byDescription_.Usable()) return;
  // Filed again whenever it is not usable: a refused allocation is not held against it.
  byDescription_.Start();
  for (Entry* e = head_; e != nullptr; e = e->next) {
    if (!byDescription_.Add(HashDescription(e->description), e)) return;
  }
}

StartupLinkTable::Entry* StartupLinkTable::FindEntry(const char* description) const {
  EnsureIndex();
  if (byDescription_.Usable()) {
    return byDescription_.FindFirst<Entry>(HashDescription(description), [&](const Entry& e) {
      return SameDescription(e.description, description);
    });
  }
  for (Entry* e = head_; e != nullptr; e = e->next) {
    if (SameDescription(e->description, description)) return e;
  }
  return nullptr;
}

bool StartupLinkTable::Find(const char* description, uint8_t* condition) const {
  Entry* e = FindEntry(description);
  if (e == nullptr) return false;
  *condition = e->condition;
  return true;
}

bool StartupLinkTable::Set(const char* description, uint8_t condition) {
  if (Entry* e = FindEntry(description)) {
    e->condition = condition;
    return true;
  }
  auto* entry = static_cast<Entry*>(AllocateZeroed(sizeof(Entry)));
  if (entry == nullptr) return false;
  std::strncpy(entry->description, description, kDescriptionBytes - 1);
  entry->condition = condition;
  entry->next = head_;
  if (head_ != nullptr) head_->previous = entry;
  head_ = entry;
  byDescription_.Add(HashDescription(entry->description), entry);
  return true;
}

void StartupLinkTable::Remove(const char* description) {
  Entry* gone = FindEntry(description);
  if (gone == nullptr) return;
  (gone->previous == nullptr ? head_ : gone->previous->next) = gone->next;
  if (gone->next != nullptr) gone->next->previous = gone->previous;
  if (byDescription_.Usable()) {
    for (uint32_t e = byDescription_.First(HashDescription(gone->description));
         e != ListIndex::kNone; e = byDescription_.Next(e)) {
      if (byDescription_.Value(e) == gone) {
        byDescription_.Remove(e);
        break;
      }
    }
  }
  FreeBlock(gone);
}

void StartupLinkTable::Clear() {
  byDescription_.Release();
  while (head_ != nullptr) {
    Entry* next = head_->next;
    FreeBlock(head_);
    head_ = next;
  }
}

uint32_t StartupLinkTable::Count() const {
  uint32_t n = 0;
  for (Entry* e = head_; e != nullptr; e = e->next) ++n;
  return n;
}

}  // namespace crv

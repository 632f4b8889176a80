#include "common/startup_link_table.h"

#include <cstring>

#include "common/alloc.h"

namespace crv {
namespace {
int CompareDescriptions(const char* a, const char* b) {
  return std::strncmp(a, b, StartupLinkTable::kDescriptionBytes - 1);
}

// Descriptions that compare equal hash alike: the bytes CompareDescriptions looks at.
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
      return CompareDescriptions(e.description, description) == 0;
    });
  }
  for (Entry* e = head_; e != nullptr; e = e->next) {
    int order = CompareDescriptions(e->description, description);
    if (order == 0) return e;
    if (order > 0) break;
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
  EnsureIndex();
  if (byDescription_.Usable()) {
    if (Entry* e = FindEntry(description)) {
      e->condition = condition;
      return true;
    }
  }
  Entry** link = &head_;
  while (*link != nullptr) {
    int order = CompareDescriptions((*link)->description, description);
    if (order == 0) {
      (*link)->condition = condition;
      return true;
    }
    if (order > 0) break;
    link = &(*link)->next;
  }
  auto* entry = static_cast<Entry*>(AllocateZeroed(sizeof(Entry)));
  if (entry == nullptr) return false;
  std::strncpy(entry->description, description, kDescriptionBytes - 1);
  entry->condition = condition;
  entry->next = *link;
  *link = entry;
  byDescription_.Add(HashDescription(entry->description), entry);
  return true;
}

void StartupLinkTable::Remove(const char* description) {
  for (Entry** link = &head_; *link != nullptr; link = &(*link)->next) {
    if (CompareDescriptions((*link)->description, description) == 0) {
      Entry* gone = *link;
      *link = gone->next;
      if (byDescription_.Usable()) {
        uint64_t hash = HashDescription(gone->description);
        for (uint32_t e = byDescription_.First(hash); e != ListIndex::kNone;
             e = byDescription_.Next(e)) {
          if (byDescription_.Value(e) == gone) {
            byDescription_.Remove(e);
            break;
          }
        }
      }
      FreeBlock(gone);
      return;
    }
  }
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

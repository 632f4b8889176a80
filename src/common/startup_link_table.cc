#include "common/startup_link_table.h"

#include <cstring>

#include "common/alloc.h"

namespace crv {
namespace {
int CompareDescriptions(const char* a, const char* b) {
  return std::strncmp(a, b, StartupLinkTable::kDescriptionBytes - 1);
}
}  // namespace

bool StartupLinkTable::Find(const char* description, uint8_t* condition) const {
  for (Entry* e = head_; e != nullptr; e = e->next) {
    int order = CompareDescriptions(e->description, description);
    if (order == 0) {
      *condition = e->condition;
      return true;
    }
    if (order > 0) break;
  }
  return false;
}

bool StartupLinkTable::Set(const char* description, uint8_t condition) {
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
  return true;
}

void StartupLinkTable::Remove(const char* description) {
  for (Entry** link = &head_; *link != nullptr; link = &(*link)->next) {
    if (CompareDescriptions((*link)->description, description) == 0) {
      Entry* gone = *link;
      *link = gone->next;
      FreeBlock(gone);
      return;
    }
  }
}

void StartupLinkTable::Clear() {
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

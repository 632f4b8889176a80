// An index beside one of the agent's lists, so that a search finds its element without
// walking the list. Values are filed under a 64-bit hash of the searched key and handed
// back, for a hash, in the order they were filed; the searcher applies the search's own test
// to each candidate, so the first candidate that passes is the first element the walk of
// the list would have found, provided every element was filed in list order.
//
// The storage comes from AllocateZeroed. When it cannot be had the index is broken: it
// frees what it holds, answers no more lookups, and the searcher walks the list as it
// would without an index. A failed allocation is not reported (the agent's behaviour must
// not depend on the index) and leaves the thread's last error as it was.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crv {

class ListIndex {
 public:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;

  ListIndex() = default;
  ListIndex(const ListIndex&) = delete;
  ListIndex& operator=(const ListIndex&) = delete;
  ~ListIndex() { Release(); }

  // Whether lookups may be used: the index was started, is switched on, and no storage
  // was refused since.
  bool Usable() const { return usable_; }
  // An empty, usable index when indexes are switched on (the process-wide switch); an
  // unusable one otherwise. Frees what was filed.
  void Start();
  // Frees everything; unusable until the next Start.
  void Release();

  // Files a value under a hash; the entries are numbered 0, 1, 2 ... in filing order.
  // False, and the index broken, when storage cannot be had (or the index is unusable).
  bool Add(uint64_t hash, void* value);
  uint32_t Count() const { return count_; }

  // The live entries filed under a hash, in filing order (kNone after the last). Entries
  // of other hashes in the same bucket are skipped.
  uint32_t First(uint64_t hash) const;
  uint32_t Next(uint32_t entry) const;
  void* Value(uint32_t entry) const { return entries_[entry].value; }
  // Takes a live entry out of the lookups; its number is not reused.
  void Remove(uint32_t entry);

  // The first value filed under hash for which match(value) holds, or null.
  template <class T, class Match>
  T* FindFirst(uint64_t hash, Match match) const {
    for (uint32_t e = First(hash); e != kNone; e = Next(e)) {
      T* value = static_cast<T*>(Value(e));
      if (match(*value)) return value;
    }
    return nullptr;
  }

 private:
  struct Entry {
    uint64_t hash;
    void* value;
    uint32_t next;  // bucket chain, both ways, in filing order
    uint32_t previous;
    uint32_t live;
  };
  struct Bucket {
    uint32_t head;
    uint32_t tail;
  };

  bool Grow();
  void Link(uint32_t entry);
  void Break();

  bool usable_ = false;
  Entry* entries_ = nullptr;
  Bucket* buckets_ = nullptr;
  uint32_t count_ = 0;
  uint32_t capacity_ = 0;  // entries; buckets are twice as many
};

// Hashes of the keys the agent searches by (FNV-1a, 64 bits).
uint64_t HashBytes(const void* bytes, size_t length, uint64_t seed = 0);
// A UTF-16 text as FoldCase folds it, so that texts equal without regard to case (as
// EqualsNoCase compares them) hash alike.
uint64_t HashFoldedText(const char16_t* text);
// The same for 8-bit text read as Latin-1 code points, up to its terminator or maxChars.
uint64_t HashFoldedText(const char* text, size_t maxChars);
uint64_t HashWords(const uint32_t* words, size_t count);

}  // namespace crv

#include "common/list_index.h"

#include <cstring>

#include "common/alloc.h"
#include "common/process_state.h"
#include "common/text.h"
#include "platform/platform.h"

namespace crv {
namespace {

constexpr uint64_t kFnvOffset = 0xCBF29CE484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001B3ull;
constexpr uint32_t kFirstCapacity = 16;

uint64_t Mix(uint64_t hash, uint32_t unit) {
  for (int i = 0; i < 4; ++i) {
    hash = (hash ^ (unit & 0xFF)) * kFnvPrime;
    unit >>= 8;
  }
  return hash;
}

// Spreads the FNV bits over the bucket number (the low bits alone cluster).
uint32_t BucketOf(uint64_t hash, uint32_t buckets) {
  hash ^= hash >> 29;
  hash *= 0xBF58476D1CE4E5B9ull;
  hash ^= hash >> 32;
  return static_cast<uint32_t>(hash) & (buckets - 1);
}

}  // namespace

void ListIndex::Start() {
  Release();
  usable_ = State().useListIndexes;
}

void ListIndex::Release() {
  FreeBlock(entries_);
  FreeBlock(buckets_);
  entries_ = nullptr;
  buckets_ = nullptr;
  count_ = 0;
  capacity_ = 0;
  usable_ = false;
}

void ListIndex::Break() { Release(); }

bool ListIndex::Grow() {
  uint32_t capacity = capacity_ == 0 ? kFirstCapacity : capacity_ * 2;
  if (capacity < capacity_) return false;
  platform::Kernel& kernel = *platform::Os().kernel;
  uint32_t lastError = kernel.GetLastError();
  auto* entries = static_cast<Entry*>(AllocateZeroed(sizeof(Entry) * capacity));
  auto* buckets = static_cast<Bucket*>(AllocateZeroed(sizeof(Bucket) * capacity * 2));
  if (entries == nullptr || buckets == nullptr) {
    FreeBlock(entries);
    FreeBlock(buckets);
    kernel.SetLastError(lastError);
    return false;
  }
  if (count_ != 0) std::memcpy(entries, entries_, sizeof(Entry) * count_);
  FreeBlock(entries_);
  FreeBlock(buckets_);
  entries_ = entries;
  buckets_ = buckets;
  capacity_ = capacity;
  for (uint32_t b = 0; b < capacity_ * 2; ++b) buckets_[b] = Bucket{kNone, kNone};
  // Linked again in filing order, so every chain keeps that order.
  for (uint32_t e = 0; e < count_; ++e) {
    if (entries_[e].live != 0) Link(e);
  }
  return true;
}

void ListIndex::Link(uint32_t entry) {
  Entry& e = entries_[entry];
  Bucket& bucket = buckets_[BucketOf(e.hash, capacity_ * 2)];
  e.next = kNone;
  e.previous = bucket.tail;
  if (bucket.tail == kNone) {
    bucket.head = entry;
  } else {
    entries_[bucket.tail].next = entry;
  }
  bucket.tail = entry;
}

bool ListIndex::Add(uint64_t hash, void* value) {
  if (!usable_) return false;
  if (count_ == capacity_ && !Grow()) {
    Break();
    return false;
  }
  uint32_t entry = count_++;
  entries_[entry] = Entry{hash, value, kNone, kNone, 1};
  Link(entry);
  return true;
}

uint32_t ListIndex::First(uint64_t hash) const {
  if (!usable_ || capacity_ == 0) return kNone;
  uint32_t e = buckets_[BucketOf(hash, capacity_ * 2)].head;
  while (e != kNone && entries_[e].hash != hash) e = entries_[e].next;
  return e;
}

uint32_t ListIndex::Next(uint32_t entry) const {
  uint64_t hash = entries_[entry].hash;
  uint32_t e = entries_[entry].next;
  while (e != kNone && entries_[e].hash != hash) e = entries_[e].next;
  return e;
}

void ListIndex::Remove(uint32_t entry) {
  Entry& e = entries_[entry];
  if (e.live == 0) return;
  Bucket& bucket = buckets_[BucketOf(e.hash, capacity_ * 2)];
  (e.previous == kNone ? bucket.head : entries_[e.previous].next) = e.next;
  (e.next == kNone ? bucket.tail : entries_[e.next].previous) = e.previous;
  e.live = 0;
}

uint64_t HashBytes(const void* bytes, size_t length, uint64_t seed) {
  uint64_t hash = kFnvOffset ^ seed;
  const auto* p = static_cast<const uint8_t*>(bytes);
  for (size_t i = 0; i < length; ++i) hash = (hash ^ p[i]) * kFnvPrime;
  return hash;
}

uint64_t HashFoldedText(const char16_t* text) {
  uint64_t hash = kFnvOffset;
  if (text == nullptr) return hash;
  for (; *text != 0; ++text) hash = Mix(hash, FoldCase(*text));
  return hash;
}

uint64_t HashFoldedText(const char* text, size_t maxChars) {
  uint64_t hash = kFnvOffset;
  if (text == nullptr) return hash;
  for (size_t i = 0; i < maxChars && text[i] != 0; ++i) {
    hash = Mix(hash, FoldCase(static_cast<char16_t>(static_cast<unsigned char>(text[i]))));
  }
  return hash;
}

uint64_t HashWords(const uint32_t* words, size_t count) {
  uint64_t hash = kFnvOffset;
  for (size_t i = 0; i < count; ++i) hash = Mix(hash, words[i]);
  return hash;
}

}  // namespace crv

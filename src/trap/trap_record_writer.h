// Writes trap records into the published tree and keeps each trap key within a limit.
//
// Trap records stay until the management service reads and removes them. Where nothing reads
// them (a site that only scrapes the metrics, or the service stopped), a flapping port would
// fill the volatile registry without end, so after each write the writer removes the oldest
// records of that key beyond the limit. It removes only records named and shaped as the agent
// writes them ("TrapData" and sixteen hexadecimal digits, REG_BINARY), and only under the four
// trap keys it creates. The times of the records in each key are kept oldest first in a ring,
// filled from the key at the first write and again whenever a record the ring still holds has
// gone (a reader removed it), so a reader removing records as it always did works unchanged.
#pragma once

#include <cstdint>

#include "publish/records.h"

namespace crv {

class CRegistryKey;

inline constexpr char16_t kTrapRecordsRemovedValue[] = u"TrapRecordsRemoved";

// Records kept per trap key. One port flapping as fast as the agent publishes (one pass a
// second) writes at most about 1,900 records an hour into each of its two keys, so a reader
// polling hourly never misses one; 4096 records of 600 bytes are 2.4 MB per key.
constexpr uint32_t kDefaultTrapRecordLimit = 4096;
constexpr uint32_t kMinimumTrapRecordLimit = 16;
constexpr uint32_t kMaximumTrapRecordLimit = 100000;

class CTrapRecordWriter {
 public:
  explicit CTrapRecordWriter(uint32_t limit);
  CTrapRecordWriter(const CTrapRecordWriter&) = delete;
  CTrapRecordWriter& operator=(const CTrapRecordWriter&) = delete;
  ~CTrapRecordWriter();

  // Writes one trap record under the key of its code (nothing for another code, or when the
  // tree key cannot be opened), then removes that key's oldest records beyond the limit.
  void Write(const TrapRecord& record);
  // Takes effect at the next write (the rings are refilled from the keys).
  void SetLimit(uint32_t limit);

  uint32_t Limit() const { return limit_; }
  // Records removed to keep the limit since the writer was made; also published as the
  // REG_DWORD TrapRecordsRemoved of the tree key.
  uint32_t Removed() const { return removed_; }

 private:
  // The times of one key's records, oldest first.
  struct KeyRecords {
    uint64_t* times = nullptr;
    uint32_t first = 0;
    uint32_t count = 0;
    bool loaded = false;
  };
  static constexpr uint32_t kTrapKeys = 4;

  void Push(KeyRecords& records, uint64_t time);
  uint64_t PopOldest(KeyRecords& records);
  enum class Removal { kRemoved, kGone, kFailed };

  // Refills the ring from the key and removes what lies beyond the limit; false when the
  // ring cannot be had or a removal failed (the next write loads the key again).
  bool Load(CRegistryKey& key, KeyRecords& records);
  void Trim(CRegistryKey& key, KeyRecords& records);
  // Removes one record (kGone: a reader removed it first); a failure is reported.
  Removal Remove(CRegistryKey& key, uint64_t time);

  KeyRecords keys_[kTrapKeys];
  uint32_t limit_;
  uint32_t removed_ = 0;
};

}  // namespace crv

#include "trap/trap_record_writer.h"

#include <algorithm>

#include "common/alloc.h"
#include "common/report.h"
#include "platform/platform.h"
#include "publish/published_tree.h"
#include "publish/registry_key.h"
#include "trap/trap_time.h"

namespace crv {
namespace {

constexpr char16_t kTrapDataPrefix[] = u"TrapData";
constexpr uint32_t kTrapDataPrefixChars = 8;

// The file time a value name of the agent's own form stands for; false for any other name.
bool ParseTrapValueName(const char16_t* name, uint32_t length, uint64_t* time) {
  if (length != kTrapValueNameChars - 1) return false;
  for (uint32_t i = 0; i < kTrapDataPrefixChars; ++i) {
    if (name[i] != kTrapDataPrefix[i]) return false;
  }
  uint64_t value = 0;
  for (uint32_t i = kTrapDataPrefixChars; i < length; ++i) {
    char16_t c = name[i];
    uint32_t digit = 0;
    if (c >= u'0' && c <= u'9') {
      digit = static_cast<uint32_t>(c - u'0');
    } else if (c >= u'A' && c <= u'F') {
      digit = static_cast<uint32_t>(c - u'A') + 10;
    } else {
      return false;
    }
    value = value << 4 | digit;
  }
  *time = value;
  return true;
}

// The times of the agent's records under the key, in a block the caller frees; *count is
// how many. Null (and *count 0) when there are none or no block can be had.
uint64_t* ReadRecordTimes(CRegistryKey& key, uint32_t* count) {
  *count = 0;
  uint32_t capacity = 0;
  uint64_t* times = nullptr;
  char16_t name[kTrapValueNameChars + 1];
  for (uint32_t index = 0;; ++index) {
    uint32_t type = 0, size = 0;
    int32_t status = key.EnumValueAt(index, name, kTrapValueNameChars + 1, &type, &size);
    if (status == static_cast<int32_t>(platform::kErrorMoreData))
      continue;  // a longer name: not one of ours
    if (status != 0) break;
    uint64_t time = 0;
    uint32_t length = 0;
    while (name[length] != 0) ++length;
    if (type != platform::kRegBinary || size != sizeof(TrapRecord) ||
        !ParseTrapValueName(name, length, &time)) {
      continue;
    }
    if (*count == capacity) {
      uint32_t grown = capacity == 0 ? 64 : capacity * 2;
      auto* bigger = static_cast<uint64_t*>(AllocateZeroed(sizeof(uint64_t) * grown));
      if (bigger == nullptr) break;
      std::copy(times, times + *count, bigger);
      FreeBlock(times);
      times = bigger;
      capacity = grown;
    }
    times[(*count)++] = time;
  }
  std::sort(times, times + *count);
  return times;
}

}  // namespace

CTrapRecordWriter::CTrapRecordWriter(uint32_t limit) : limit_(limit) {}

CTrapRecordWriter::~CTrapRecordWriter() {
  for (KeyRecords& records : keys_) FreeBlock(records.times);
}

void CTrapRecordWriter::SetLimit(uint32_t limit) {
  limit_ = limit;
  for (KeyRecords& records : keys_) {
    FreeBlock(records.times);
    records = KeyRecords{};
  }
}

void CTrapRecordWriter::Write(const TrapRecord& record) {
  const char16_t* trapKey = TrapKeyName(record.trapCode);
  if (trapKey == nullptr) return;
  CRegistryKey tree = RootKey().Open(kTreeKeyPath, platform::kKeyAllAccess, true);
  if (tree.LastError() != 0) return;
  {
    CRegistryKey created =
        tree.Create(trapKey, nullptr, platform::kRegOptionVolatile, platform::kKeyAllAccess);
  }
  CRegistryKey trap = tree.Open(trapKey, platform::kKeyAllAccess, true);
  if (trap.LastError() != 0) return;
  KeyRecords& records = keys_[record.trapCode - kTrapConnectivityLost];
  uint32_t removedBefore = removed_;
  if (!records.loaded) records.loaded = Load(trap, records);
  platform::FileTime now;
  platform::Os().kernel->GetSystemTimeAsFileTime(&now);
  uint64_t time = UniqueTrapFileTime(now);
  char16_t name[kTrapValueNameChars];
  FormatTrapValueName(time, name, kTrapValueNameChars);
  if (trap.SetValue(name, platform::kRegBinary, &record, sizeof record) == 0 && records.loaded) {
    Push(records, time);
    Trim(trap, records);
  }
  if (removed_ != removedBefore) WriteDwordValue(kTreeKeyPath, kTrapRecordsRemovedValue, removed_);
}

void CTrapRecordWriter::Push(KeyRecords& records, uint64_t time) {
  records.times[(records.first + records.count) % (limit_ + 1)] = time;
  ++records.count;
}

uint64_t CTrapRecordWriter::PopOldest(KeyRecords& records) {
  uint64_t time = records.times[records.first];
  records.first = (records.first + 1) % (limit_ + 1);
  --records.count;
  return time;
}

bool CTrapRecordWriter::Load(CRegistryKey& key, KeyRecords& records) {
  if (records.times == nullptr) {
    // One place more than the limit: the new record goes in before the oldest goes out.
    records.times = static_cast<uint64_t*>(AllocateZeroed(sizeof(uint64_t) * (limit_ + 1)));
    if (records.times == nullptr) {
      Report(kReportAllocationFailed, nullptr, platform::Os().kernel->GetLastError());
      ReportInfo(u"CTrapRecordWriter: failure to allocate the trap record ring", limit_);
      return false;
    }
  }
  records.first = records.count = 0;
  uint32_t count = 0;
  uint64_t* times = ReadRecordTimes(key, &count);
  uint32_t beyond = count > limit_ ? count - limit_ : 0;
  bool failed = false;
  for (uint32_t i = 0; i < beyond && !failed; ++i) {
    Removal removal = Remove(key, times[i]);
    if (removal == Removal::kRemoved) ++removed_;
    failed = removal == Removal::kFailed;
  }
  for (uint32_t i = beyond; i < count; ++i) Push(records, times[i]);
  FreeBlock(times);
  return !failed;
}

void CTrapRecordWriter::Trim(CRegistryKey& key, KeyRecords& records) {
  bool reloaded = false;
  while (records.loaded && records.count > limit_) {
    Removal removal = Remove(key, PopOldest(records));
    if (removal == Removal::kRemoved) {
      ++removed_;
    } else if (removal == Removal::kFailed) {
      // The record stays in the key: the next write finds it there again.
      records.loaded = false;
    } else if (!reloaded) {
      // A reader took records away: what the ring holds is stale, the key says what is left.
      reloaded = true;
      records.loaded = Load(key, records);
    }
  }
}

CTrapRecordWriter::Removal CTrapRecordWriter::Remove(CRegistryKey& key, uint64_t time) {
  char16_t name[kTrapValueNameChars];
  FormatTrapValueName(time, name, kTrapValueNameChars);
  int32_t status = key.DeleteValue(name);
  if (status == 0) return Removal::kRemoved;
  if (status == static_cast<int32_t>(platform::kErrorFileNotFound)) return Removal::kGone;
  ReportInfo(u"CTrapRecordWriter: failure to remove an old trap record", status);
  return Removal::kFailed;
}

}  // namespace crv

#include "metrics/metrics_file.h"

#include <cstring>
#include <initializer_list>

#include "common/text.h"
#include "platform/file_system.h"
#include "platform/kernel.h"
#include "platform/platform.h"

namespace crv {
namespace {

constexpr uint32_t kNameAttempts = 8;
constexpr uint32_t kWriteChunk = 1u << 20;

// A unique part for the temporary name: the time and a count of the names this process made.
uint64_t NextUniquePart() {
  static uint64_t made = 0;
  platform::FileTime now{};
  platform::Os().kernel->GetSystemTimeAsFileTime(&now);
  uint64_t time = uint64_t{now.high} << 32 | now.low;
  return time ^ (++made * 0x9E3779B97F4A7C15u) ^
         (uint64_t{platform::Os().kernel->GetCurrentThreadId()} << 40);
}

// path + "." + sixteen hexadecimal digits + ".tmp".
void TemporaryName(const char16_t* path, size_t length, uint64_t unique, char16_t* out) {
  std::memcpy(out, path, length * sizeof(char16_t));
  char16_t* at = out + length;
  *at++ = u'.';
  for (int shift = 60; shift >= 0; shift -= 4) {
    *at++ = static_cast<char16_t>(u"0123456789abcdef"[(unique >> shift) & 0xF]);
  }
  for (char16_t c : {u'.', u't', u'm', u'p', u'\0'}) *at++ = c;
}

MetricsWriteResult Failed(const char16_t* call) {
  return MetricsWriteResult{platform::Os().kernel->GetLastError(), call};
}

}  // namespace

MetricsWriteResult WriteMetricsFile(const char16_t* path, const char* data, size_t size) {
  platform::FileSystem& files = *platform::Os().files;
  size_t length = 0;
  while (length <= kMaxMetricsPathChars && path[length] != 0) ++length;
  if (length == 0 || length > kMaxMetricsPathChars) {
    return MetricsWriteResult{platform::kErrorInvalidParameter, u"MetricsFile"};
  }
  char16_t temporary[kMaxMetricsPathChars + 24];
  platform::FileHandle file = platform::kInvalidFileHandle;
  for (uint32_t attempt = 0; attempt < kNameAttempts; ++attempt) {
    TemporaryName(path, length, NextUniquePart(), temporary);
    file = files.CreateFile(temporary, platform::kGenericWrite, platform::kCreateNew,
                            platform::kFileAttributeNormal | platform::kFileFlagOpenReparsePoint);
    if (file != platform::kInvalidFileHandle) break;
    if (platform::Os().kernel->GetLastError() != platform::kErrorFileExists) break;
  }
  if (file == platform::kInvalidFileHandle) return Failed(u"CreateFileW");

  bool written = true;
  MetricsWriteResult result;
  for (size_t at = 0; at < size && written;) {
    uint32_t chunk = static_cast<uint32_t>(size - at < kWriteChunk ? size - at : kWriteChunk);
    uint32_t count = 0;
    written = files.WriteFile(file, data + at, chunk, &count) && count > 0;
    if (!written) {
      result = Failed(u"WriteFile");
      if (result.error == 0) result.error = platform::kErrorDiskFull;  // wrote nothing, no error
    }
    at += count;
  }
  if (!files.CloseFile(file) && written) {
    written = false;
    result = Failed(u"CloseHandle");
  }
  if (written &&
      files.MoveFileEx(temporary, path,
                       platform::kMoveFileReplaceExisting | platform::kMoveFileWriteThrough)) {
    return MetricsWriteResult{};
  }
  if (written) result = Failed(u"MoveFileExW");
  files.DeleteFile(temporary);
  return result;
}

}  // namespace crv

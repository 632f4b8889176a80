// The metrics file written whole or not at all: the text goes into a new file beside it
// under a name of its own (the file's name, a unique part and ".tmp", created only where
// nothing has that name, so a link planted there is never written through), which is then
// renamed over the file. A reader sees the previous file or the new one, never a part; a
// link planted at the file's own name is replaced by the rename, not followed. After a
// failure the previous file is left as it was and the temporary file removed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crv {

// The longest metrics file path taken, in characters; the temporary name adds 22.
inline constexpr uint32_t kMaxMetricsPathChars = 1024;

struct MetricsWriteResult {
  uint32_t error = 0;                // 0, or the Win32 error of the call that failed
  const char16_t* failedCall = u"";  // "CreateFileW", "WriteFile", ... when error is not 0
};

MetricsWriteResult WriteMetricsFile(const char16_t* path, const char* data, size_t size);

}  // namespace crv

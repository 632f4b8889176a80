#include "standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tessar {

bool WriteStandardOutput(std::string_view text, std::string* error) {
  errno = 0;
  bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  int writeErrno = errno;
  bool flushed = std::fflush(stdout) == 0;
  if (written && flushed && std::ferror(stdout) == 0) return true;
  if (writeErrno == 0) writeErrno = errno;
  *error = "cannot write to standard output";
  if (writeErrno != 0) *error += std::string(": ") + std::strerror(writeErrno);
  std::clearerr(stdout);
  return false;
}

}  // namespace tessar

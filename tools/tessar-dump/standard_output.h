// Standard output written whole or reported: a full disk or a closed pipe behind it must not
// pass for success.
#pragma once

#include <string>
#include <string_view>

namespace tessar {

// Writes text to standard output and flushes it. False with a message when any of it could
// not be written.
bool WriteStandardOutput(std::string_view text, std::string* error);

}  // namespace tessar

// Record texts are written in Windows-1252; metrics label values are UTF-8.
#pragma once

#include <cstddef>

namespace crv {

// The text of a record field (up to its terminator or width bytes) as UTF-8 into out, cut
// between two characters to fit outSize with its terminator. Bytes Windows-1252 leaves
// undefined become U+FFFD, control bytes '?'.
void Windows1252ToUtf8(const char* field, size_t width, char* out, size_t outSize);

}  // namespace crv

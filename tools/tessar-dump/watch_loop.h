// The live view's loop: read, redraw, wait, until Ctrl-C.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "tessar_decode.h"

namespace tessar {

struct WatchOptions {
  unsigned intervalSeconds = 5;
  std::string metricsPath;  // non-empty: keep this metrics file current instead of drawing
  std::string source;       // what is read, for the header
};

// Reads the tree: false with a message when it cannot be read; an empty tree when none.
using TreeReader = std::function<bool(std::optional<RawKey>*, std::string*)>;

// Reads the tree every intervalSeconds and draws it (or writes the metrics file) until the
// user interrupts it (Ctrl-C, or Ctrl-Break and closing the console on Windows). A read that
// fails is reported and the loop goes on; a frame that cannot be written to standard output
// ends it. Returns the exit code: 0 after an interruption, 1 when output failed.
int RunWatch(const WatchOptions& options, const TreeReader& read);

}  // namespace tessar

// The live view's loop and its interruption: SIGINT and SIGTERM on Linux, the console control
// handler on Windows; both only set a flag that the wait checks ten times a second.
#include "watch_loop.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <deque>

#include "standard_output.h"
#include "tree_view.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <time.h>
#include <unistd.h>
#endif

namespace tessar {
namespace {

volatile std::sig_atomic_t gInterrupted = 0;

#if defined(_WIN32)
BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
    gInterrupted = 1;
    return TRUE;
  }
  return FALSE;
}

void CatchInterruption() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

void SleepTenth() { Sleep(100); }

// A console that understands escape sequences can be cleared between frames.
bool CanRedrawInPlace() {
  if (!_isatty(_fileno(stdout))) return false;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(out, &mode)) return false;
  return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
#else
void OnSignal(int) { gInterrupted = 1; }

void CatchInterruption() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void SleepTenth() {
  timespec tenth{0, 100000000};
  nanosleep(&tenth, nullptr);  // a signal cuts it short, which is what we want
}

bool CanRedrawInPlace() { return isatty(STDOUT_FILENO) != 0; }
#endif

// Waits the interval in tenths of a second; false when interrupted meanwhile.
bool Wait(unsigned seconds) {
  for (unsigned i = 0; i < seconds * 10; ++i) {
    if (gInterrupted) return false;
    SleepTenth();
  }
  return gInterrupted == 0;
}

std::string LocalTimeNow() {
  std::time_t now = std::time(nullptr);
  char text[32] = "";
  if (const std::tm* local = std::localtime(&now)) {
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
  }
  return text;
}

constexpr size_t kTrapLinesShown = 12;

}  // namespace

int RunWatch(const WatchOptions& options, const TreeReader& read) {
  CatchInterruption();
  bool inPlace = options.metricsPath.empty() && CanRedrawInPlace();
  std::optional<TreeView> before;
  std::deque<std::string> trapLines;
  while (gInterrupted == 0) {
    std::optional<RawKey> tree;
    std::string error;
    if (!read(&tree, &error)) {
      std::fprintf(stderr, "tessar-dump: %s\n", error.c_str());
    } else {
      TreeView now = tree ? ViewOf(DecodeTree(*tree)) : NoTree();
      if (!options.metricsPath.empty()) {
        if (!WriteFileReplacing(options.metricsPath, RenderPrometheus(now), &error)) {
          std::fprintf(stderr, "tessar-dump: %s\n", error.c_str());
        }
      } else {
        std::vector<TrapView> fresh = NewTraps(before ? &*before : nullptr, now);
        for (const TrapView& trap : fresh) {
          trapLines.push_back(RenderTrapLine(trap));
          if (trapLines.size() > kTrapLinesShown) trapLines.pop_front();
        }
        std::string frame = inPlace ? "\x1b[H\x1b[2J" : "";
        frame += options.source + " at " + LocalTimeNow() + ", every " +
                 std::to_string(options.intervalSeconds) + " s (Ctrl-C ends)\n\n";
        frame += RenderWatchFrame(before ? &*before : nullptr, now);
        if (inPlace) {
          frame += "\nTrap records seen:\n";
          for (const std::string& line : trapLines) frame += "  " + line;
        } else {
          for (const TrapView& trap : fresh) frame += "trap: " + RenderTrapLine(trap);
          frame += "\n";
        }
        if (!WriteStandardOutput(frame, &error)) {
          std::fprintf(stderr, "tessar-dump: %s\n", error.c_str());
          return 1;
        }
      }
      before = std::move(now);
    }
    if (!Wait(options.intervalSeconds)) break;
  }
  if (options.metricsPath.empty()) std::fputs("\n", stdout);
  return 0;
}

}  // namespace tessar

#include "service_start.h"

namespace crvhost {
namespace {

constexpr const char* kConsoleWords[] = {"install", "uninstall", "reinstall", "runasexe"};

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The whole of text against a lower-case word, ignoring the case of ASCII letters.
bool IsWord(const char* text, const char* word) {
  while (*text != '\0' && LowerAscii(*text) == *word) {
    ++text;
    ++word;
  }
  return *text == '\0' && *word == '\0';
}

}  // namespace

bool ConnectsAsService(int argc, const char* const* argv) {
  if (argc != 2 || argv == nullptr || argv[1] == nullptr) return true;
  const char* argument = argv[1];
  if (argument[0] != '-' && argument[0] != '/') return true;
  for (const char* word : kConsoleWords) {
    if (IsWord(argument + 1, word)) return false;
  }
  return true;
}

}  // namespace crvhost

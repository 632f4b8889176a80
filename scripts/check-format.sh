#!/usr/bin/env bash
# Fails when a C++ file of the project differs from what clang-format makes of it (.clang-format
# at the top), naming each file and line; the fix is `clang-format -i FILE`.
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cc' '*.h')
else
  mapfile -t files < <(find src host tools tests bench fuzz -name '*.cc' -o -name '*.h' | sort)
fi
if ! clang-format --dry-run -Werror "${files[@]}"; then
  echo "check-format.sh: the files above are not formatted; run clang-format -i on them" >&2
  exit 1
fi
echo "check-format.sh: ${#files[@]} files formatted"

#!/usr/bin/env bash
# Fails when a C++ file in the repository is not as .clang-format lays it out; lists the files.
# With --fix, formats them in place instead. The files are checked in batches on every core.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "clang-format is missing: run scripts/setup.sh" >&2; exit 1; }
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
# Each batch names its files that differ from their layout ("FILE:LINE:COL: error: ...").
mapfile -t unformatted < <(printf '%s\0' "${files[@]}" |
  xargs -0 -n 16 -P "$(nproc)" clang-format --dry-run --Werror 2>&1 >/dev/null |
  sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: .*clang-format.*/\1/p' | sort -u)
if [ ${#unformatted[@]} -ne 0 ]; then
  echo "Not formatted (run scripts/format_check.sh --fix):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
echo "All ${#files[@]} C++ files are formatted."

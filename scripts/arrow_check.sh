#!/usr/bin/env bash
# Fails when a C++ file includes across a forbidden arrow of the house: each folder may include
# only the folders listed for it below (itself always), and only ui/ and the Results window's
# benchmark include Qt. The engine's tests may drive a room through the rooms above it (a real
# run, the run's own line maker), never through cli/ or ui/. Lists every offending line.
set -euo pipefail
cd "$(dirname "$0")/.."

# folder: the folders its files may include. The longest folder that holds a file decides.
rules=(
  "text:"
  "files:text"
  "report:text"
  "presets:text files"
  "presets/starter:text files presets engine/regexp"
  "tasks:text files"
  "settings:text files report"
  "program_files:text files presets tasks settings"
  "engine/regexp:text"
  "engine/decoding:text"
  "engine/recovery:text engine/decoding"
  "engine/score:text"
  "engine/input:text"
  "engine/search:text files engine/decoding engine/score engine/input"
  "engine/carve:text files engine/decoding engine/input engine/search"
  "engine/run:text files report presets tasks engine/decoding engine/recovery engine/score engine/input engine/search engine/regexp"
  "engine/results:text engine/decoding engine/input engine/search engine/run"
  "engine/export:text engine/decoding engine/score engine/input engine/run"
  "cli:text files report presets tasks settings program_files engine cli"
  "ui:text files report presets tasks settings program_files engine ui"
  "fuzz:text files report presets tasks settings engine fuzz"
  "bench:text files report presets tasks settings engine cli bench"
  "bench/results_bench.cpp:text files report presets tasks settings engine ui"
)
# What an engine test may include, whatever its room.
engine_tests="text files report presets tasks settings engine"
# The files that may include Qt.
qt_users=(ui bench/results_bench.cpp)

rule_for() {  # the allowed list for a file's path, and the folder that decided it
  local path="$1" best="" allowed="" folder
  for rule in "${rules[@]}"; do
    folder="${rule%%:*}"
    if [[ ("$path" == "$folder" || "$path" == "$folder/"*) && ${#folder} -gt ${#best} ]]; then
      best="$folder"
      allowed="${rule#*:}"
    fi
  done
  printf '%s|%s' "$best" "$allowed"
}

status=0
while IFS= read -r file; do
  decided=$(rule_for "$file")
  folder="${decided%%|*}"
  allowed="${decided#*|} $folder"
  [ -n "$folder" ] || continue
  [[ "$file" == engine/*_test.cpp ]] && allowed="$engine_tests $folder"
  qt=0
  for user in "${qt_users[@]}"; do [[ "$folder" == "$user" ]] && qt=1; done
  while IFS= read -r line; do
    number="${line%%:*}"
    # The included name, read by bash itself: a process per include line would take most of
    # the check's time.
    [[ "${line#*:}" =~ \#[[:space:]]*include[[:space:]]*[\<\"]([^\>\"]*)[\>\"] ]] || continue
    include="${BASH_REMATCH[1]}"
    if [[ "$include" =~ ^Q[A-Za-z]*(/|$) && $qt -eq 0 ]]; then
      echo "$file:$number: includes Qt ($include); only ui/ may"
      status=1
      continue
    fi
    [[ "$line" == *'#include "'* ]] || continue
    ok=0
    for target in $allowed; do
      [[ "$include" == "$target/"* ]] && ok=1 && break
    done
    # A file's own generated headers (the text model's table) are found by name alone.
    [[ "$include" != */* ]] && ok=1
    if [ $ok -eq 0 ]; then
      echo "$file:$number: includes $include, across an arrow ($folder/ may use: ${allowed% *})"
      status=1
    fi
  done < <(grep -n -E '^\s*#\s*include' "$file" || true)
done < <(git ls-files '*.cpp' '*.h')
[ $status -eq 0 ] && echo "Every include follows the arrows of the house."
exit $status

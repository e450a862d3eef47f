#!/usr/bin/env bash
# What finding hidden executables costs against the search of the same row: for each row, the
# runner's search of every key on the file (printable alphabet, MinLength 7, lines to /dev/null;
# ANY with --summary) and the executable finder of the same pairs on the same file
# (carve_bench --time), rounds interleaved, each figure the median of three.
#
#   bench/carve_vs_rows.sh [build] [MiB]   (build/, 16 MiB of /usr/bin binaries)
set -euo pipefail
build="${1:-build}"
mib="${2:-16}"
. "$(dirname "$0")/bench_inputs.sh"
file="$work/binaries.bin"

median() { tr ' ' '\n' | grep . | sort -n | sed -n 2p; }
rows="NONE XOR8 ADD8 XOR8ROL ADD8ROL ROL8ADD XOR8N XOR8INC XOR8DEC ANY"
declare -A scan find
for round in 1 2 3; do
  for a in $rows; do
    extra=(--stdout)
    [ "$a" = ANY ] && extra=(--summary)
    /usr/bin/time -o "$work/t" -f "%e" "$build/veskor-scan" --algo "$a" \
      --alphabet-file "$work/printable" --min 7 "${extra[@]}" "$file" > /dev/null 2>&1
    scan[$a]="${scan[$a]:-} $(cat "$work/t")"
    read -r seconds found < <("$build/bench/carve_bench" --time="$file" --algo="$a" --rounds=1)
    find[$a]="${find[$a]:-} $seconds"
  done
done
printf "%-8s %12s %12s %9s\n" row "search s" "finding s" "added"
for a in $rows; do
  s=$(echo "${scan[$a]}" | median)
  f=$(echo "${find[$a]}" | median)
  printf "%-8s %12s %12s %8.1f%%\n" "$a" "$s" "$f" "$(echo "100 * $f / $s" | bc -l)"
done
echo "$(stat -c %s "$file") bytes of /usr/bin binaries"

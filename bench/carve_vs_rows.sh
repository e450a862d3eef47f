#!/usr/bin/env bash
# What --carve adds to the runner's run of the same row: for each row, veskor-scan on the file
# (printable alphabet, MinLength 7, lines to /dev/null; ANY with --summary) with and without
# --carve into an emptied folder, rounds interleaved, each figure the median of the rounds (3, or
# ROUNDS in the environment): wall seconds, and CPU seconds (user + system), which a machine shared
# with other work disturbs less, both to the millisecond (the fast rows take a tenth of a second).
# The file is /usr/bin's programs one after another: NONE finds and writes every one after the
# first.
#
#   bench/carve_vs_rows.sh [build] [MiB] [rows...]   (build/, 16 MiB, every row below)
set -euo pipefail
build="${1:-build}"
mib="${2:-16}"
shift $(($# < 2 ? $# : 2))
. "$(dirname "$0")/bench_inputs.sh"
file="$work/binaries.bin"

median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
rows="${*:-NONE XOR8 ADD8 XOR8ROL ADD8ROL ROL8ADD XOR8N XOR8INC XOR8DEC XORK ANY}"
declare -A plain carved plain_cpu carved_cpu found
cpu() { awk '{printf "%.3f", $2 + $3}' "$work/t"; }
timed() { { TIMEFORMAT='%3R %3U %3S'; time "$@" > /dev/null 2>&1; } 2> "$work/t"; }
wall() { awk '{print $1}' "$work/t"; }
for round in $(seq "${ROUNDS:-3}"); do
  for a in $rows; do
    extra=(--stdout)
    [ "$a" = ANY ] && extra=(--summary)
    run=("$build/veskor-scan" --algo "$a" --alphabet-file "$work/printable" --min 7 "${extra[@]}")
    timed "${run[@]}" "$file"
    plain[$a]="${plain[$a]:-} $(wall)"
    plain_cpu[$a]="${plain_cpu[$a]:-} $(cpu)"
    rm -rf "$work/carved"
    timed "${run[@]}" --carve "$work/carved" "$file"
    carved[$a]="${carved[$a]:-} $(wall)"
    carved_cpu[$a]="${carved_cpu[$a]:-} $(cpu)"
    found[$a]=$(find "$work/carved" -type f | wc -l)
  done
done
printf "%-8s %10s %12s %8s %10s %12s %8s %7s\n" row "search s" "--carve s" "added" \
  "search cpu" "--carve cpu" "added" files
for a in $rows; do
  s=$(echo "${plain[$a]}" | median)
  c=$(echo "${carved[$a]}" | median)
  sc=$(echo "${plain_cpu[$a]}" | median)
  cc=$(echo "${carved_cpu[$a]}" | median)
  printf "%-8s %10s %12s %7.1f%% %10s %12s %7.1f%% %7s\n" "$a" "$s" "$c" \
    "$(echo "100 * ($c - $s) / $s" | bc -l)" "$sc" "$cc" "$(echo "100 * ($cc - $sc) / $sc" | bc -l)" \
    "${found[$a]}"
done
echo "$(stat -c %s "$file") bytes of /usr/bin binaries"

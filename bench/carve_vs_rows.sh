#!/usr/bin/env bash
# What --carve adds to the runner's run of the same row: for each row, veskor-scan on the file
# (printable alphabet, MinLength 7, lines to /dev/null; ANY with --summary) with and without
# --carve into an emptied folder, rounds interleaved, each figure the median of three. The file
# is /usr/bin's programs one after another: NONE finds and writes every one after the first.
#
#   bench/carve_vs_rows.sh [build] [MiB] [rows...]   (build/, 16 MiB, every row below)
set -euo pipefail
build="${1:-build}"
mib="${2:-16}"
shift $(($# < 2 ? $# : 2))
. "$(dirname "$0")/bench_inputs.sh"
file="$work/binaries.bin"

median() { tr ' ' '\n' | grep . | sort -n | sed -n 2p; }
rows="${*:-NONE XOR8 ADD8 XOR8ROL ADD8ROL ROL8ADD XOR8N XOR8INC XOR8DEC ANY}"
declare -A plain carved found
for round in 1 2 3; do
  for a in $rows; do
    extra=(--stdout)
    [ "$a" = ANY ] && extra=(--summary)
    run=("$build/veskor-scan" --algo "$a" --alphabet-file "$work/printable" --min 7 "${extra[@]}")
    /usr/bin/time -o "$work/t" -f "%e" "${run[@]}" "$file" > /dev/null 2>&1
    plain[$a]="${plain[$a]:-} $(cat "$work/t")"
    rm -rf "$work/carved"
    /usr/bin/time -o "$work/t" -f "%e" "${run[@]}" --carve "$work/carved" "$file" > /dev/null 2>&1
    carved[$a]="${carved[$a]:-} $(cat "$work/t")"
    found[$a]=$(find "$work/carved" -type f | wc -l)
  done
done
printf "%-8s %10s %12s %8s %7s\n" row "search s" "--carve s" "added" files
for a in $rows; do
  s=$(echo "${plain[$a]}" | median)
  c=$(echo "${carved[$a]}" | median)
  printf "%-8s %10s %12s %7.1f%% %7s\n" "$a" "$s" "$c" "$(echo "100 * ($c - $s) / $s" | bc -l)" \
    "${found[$a]}"
done
echo "$(stat -c %s "$file") bytes of /usr/bin binaries"

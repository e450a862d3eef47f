#!/usr/bin/env bash
# Every algorithm's search of all keys against XOR8's on the same file and alphabet (tab and
# 32..126, MinLength 7, lines to /dev/null), then ANY's summary against one GNU strings pass,
# in one run: rounds interleaved, each figure the median of three.
#
#   bench/ciphers_vs_xor8.sh [build/veskor-scan] [MiB]   (32 MiB of /usr/bin binaries)
set -euo pipefail
scan="${1:-build/veskor-scan}"
mib="${2:-32}"
. "$(dirname "$0")/bench_inputs.sh"
file="$work/binaries.bin"

median() { tr ' ' '\n' | grep . | sort -n | sed -n 2p; }
algos="XOR8 XOR8ROL ADD8ROL ROL8ADD XOR8N XOR8INC XOR8DEC"
declare -A times
for round in 1 2 3; do
  for a in $algos; do
    /usr/bin/time -o "$work/t" -f "%e" "$scan" --algo "$a" --alphabet-file "$work/printable" \
      --min 7 --stdout "$file" > /dev/null 2> "$work/lines.$a"
    times[$a]="${times[$a]:-} $(cat "$work/t")"
  done
done
base=$(echo "${times[XOR8]}" | median)
printf "%-8s %9s %8s %14s\n" algo seconds "vs XOR8" lines
for a in $algos; do
  m=$(echo "${times[$a]}" | median)
  lines=$(grep -o '[0-9]* lines' "$work/lines.$a" | cut -d' ' -f1)
  printf "%-8s %9s %7.2fx %14s\n" "$a" "$m" "$(echo "$m / $base" | bc -l)" "$lines"
done

any="" strings_times=""
for round in 1 2 3; do
  /usr/bin/time -o "$work/t" -f "%e" "$scan" --algo ANY --alphabet-file "$work/printable" \
    --min 7 --summary "$file" > /dev/null 2>&1
  any="$any $(cat "$work/t")"
  /usr/bin/time -o "$work/t" -f "%e" strings -a -n 7 "$file" > /dev/null
  strings_times="$strings_times $(cat "$work/t")"
done
a=$(echo "$any" | median)
s=$(echo "$strings_times" | median)
printf "ANY --summary %s s, strings %s s: %.1fx\n" "$a" "$s" "$(echo "$a / $s" | bc -l)"

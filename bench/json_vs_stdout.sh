#!/usr/bin/env bash
# The search of all keys written as JSON Lines string records against the same search written as
# report lines, in one run: XOR8, every key, tab and 32..126, MinLength 7, to /dev/null, on 50 MB
# of random bytes and on 32 MiB of concatenated /usr/bin binaries. Each figure is the median of
# three timings, the two kinds of run interleaved; the ratios are --json over --stdout, of the
# wall time and of the processor time (user and system, every thread), which a machine shared
# with other work inflates less.
#
#   bench/json_vs_stdout.sh [build/veskor-scan] [MiB of binaries]
set -euo pipefail
scan="${1:-build/veskor-scan}"
mib="${2:-32}"
. "$(dirname "$0")/bench_inputs.sh"
head -c 50000000 /dev/urandom > "$work/random.bin"

median() { sort -n | sed -n 2p; }
timed() {  # timed OUTPUT FILE: "wall cpu" seconds of one run
  /usr/bin/time -f '%e %U %S' -o "$work/time" "$scan" --algo XOR8 \
    --alphabet-file "$work/printable" --min 7 "$1" "$2" > /dev/null 2>&1
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$work/time"
}

printf '%-20s %9s %8s %8s %8s %8s %7s %7s %7s\n' file records "json MB" "json s" "lines s" \
  "json cpu" "lines cpu" ratio "cpu ratio"
for name in random binaries; do
  file="$work/$name.bin"
  json=() lines=()
  for _ in 1 2 3; do
    json+=("$(timed --json "$file")")
    lines+=("$(timed --stdout "$file")")
  done
  jw=$(printf '%s\n' "${json[@]}" | cut -d' ' -f1 | median)
  jc=$(printf '%s\n' "${json[@]}" | cut -d' ' -f2 | median)
  lw=$(printf '%s\n' "${lines[@]}" | cut -d' ' -f1 | median)
  lc=$(printf '%s\n' "${lines[@]}" | cut -d' ' -f2 | median)
  read -r records bytes < <("$scan" --algo XOR8 --alphabet-file "$work/printable" --min 7 --json \
    "$file" 2>/dev/null | wc -lc)
  label="random (50 MB)"
  [ "$name" = binaries ] && label="binaries ($mib MiB)"
  printf '%-20s %9s %8d %8.2f %8.2f %8.2f %8.2f %6.2fx %6.2fx\n' "$label" "$records" \
    $((bytes / 1000000)) "$jw" "$lw" "$jc" "$lc" "$(awk -v a="$jw" -v b="$lw" 'BEGIN { print a / b }')" \
    "$(awk -v a="$jc" -v b="$lc" 'BEGIN { print a / b }')"
done

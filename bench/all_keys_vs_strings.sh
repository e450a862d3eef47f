#!/usr/bin/env bash
# The search of all keys with the printable alphabet against one GNU strings pass over the same
# file, in one run: XOR8 and XOR8W, every key, tab and 32..126, MinLength 7, lines to /dev/null,
# on 32 MiB of concatenated /usr/bin binaries and on 32 MiB of random bytes. Each figure is the
# median of three timings; the ratio is ours over strings (8-bit, or 16-bit little-endian for
# XOR8W).
#
#   bench/all_keys_vs_strings.sh [build/veskor-scan] [MiB]
set -euo pipefail
scan="${1:-build/veskor-scan}"
mib="${2:-32}"
. "$(dirname "$0")/bench_inputs.sh"
head -c $((mib << 20)) /dev/urandom > "$work/random.bin"

median() { sort -n | sed -n 2p; }
seconds() {  # seconds COMMAND...: wall time of one run
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }' 
}

printf '%-26s %10s %12s %12s %8s\n' "file, algorithm" lines "ours (s)" "strings (s)" ratio
for name in binaries random; do
  file="$work/$name.bin"
  # XOR8 against one 8-bit strings pass; XOR8W against one 16-bit little-endian pass.
  for algo in XOR8 XOR8W; do
    encoding=s
    [ "$algo" = XOR8W ] && encoding=l
    ours=$(for _ in 1 2 3; do
      seconds "$scan" --algo "$algo" --alphabet-file "$work/printable" --min 7 --stdout "$file"
    done | median)
    theirs=$(for _ in 1 2 3; do seconds strings -a -e "$encoding" -n 7 -t d "$file"; done | median)
    lines=$("$scan" --algo "$algo" --alphabet-file "$work/printable" --min 7 --stdout "$file" \
      2>/dev/null | wc -l)
    printf '%-26s %10s %12.3f %12.3f %7.1fx\n' "$name ($mib MiB), $algo" "$lines" "$ours" \
      "$theirs" "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { print a / b }')"
  done
done

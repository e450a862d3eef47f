#!/usr/bin/env bash
# The search of all keys written as JSON Lines string records against the same search written as
# report lines, in one run: XOR8, every key, tab and 32..126, MinLength 7, to /dev/null, on 50 MB
# of random bytes and on 32 MiB of concatenated /usr/bin binaries. Each figure is the median of
# three timings, the two kinds of run interleaved; the ratio is --json over --stdout.
#
#   bench/json_vs_stdout.sh [build/veskor-scan] [MiB of binaries]
set -euo pipefail
scan="${1:-build/veskor-scan}"
mib="${2:-32}"
. "$(dirname "$0")/bench_inputs.sh"
head -c 50000000 /dev/urandom > "$work/random.bin"

median() { sort -n | sed -n 2p; }
seconds() {  # seconds COMMAND...: wall time of one run
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}

printf '%-24s %10s %10s %12s %10s %8s\n' file records "json (s)" "stdout (s)" "json MB" ratio
for name in random binaries; do
  file="$work/$name.bin"
  run() { "$scan" --algo XOR8 --alphabet-file "$work/printable" --min 7 "$1" "$file"; }
  json=() stdout=()
  for _ in 1 2 3; do
    json+=("$(seconds run --json)")
    stdout+=("$(seconds run --stdout)")
  done
  j=$(printf '%s\n' "${json[@]}" | median)
  s=$(printf '%s\n' "${stdout[@]}" | median)
  read -r records bytes < <(run --json 2>/dev/null | wc -lc)
  label="random (50 MB)"
  [ "$name" = binaries ] && label="binaries ($mib MiB)"
  printf '%-24s %10s %10.3f %12.3f %10d %7.2fx\n' "$label" "$records" "$j" "$s" \
    $((bytes / 1000000)) "$(awk -v a="$j" -v b="$s" 'BEGIN { print a / b }')"
done

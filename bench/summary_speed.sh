#!/usr/bin/env bash
# The summary's speed on one file (printable alphabet, min 7), for one runner or two (before and
# after a change) in the same run: XOR8's lines to /dev/null, XOR8's --summary and ANY's
# --summary, rounds interleaved, each figure the median of three, with the ratios the summaries
# are judged by (ANY against XOR8's summary, XOR8's summary against its lines). Each runner gets
# a line of wall times and one of processor times (user + system, every thread): on a machine
# shared with other work the second says more of the program itself.
#
#   bench/summary_speed.sh FILE [build/veskor-scan [OTHER_RUNNER]]
#   (FILE "binaries": the first 32 MiB of /usr/bin's ELF binaries, as bench_inputs.sh makes them)
set -euo pipefail
target="${1:?usage: bench/summary_speed.sh FILE [RUNNER [OTHER_RUNNER]]}"
runners=("${2:-build/veskor-scan}")
[ -n "${3:-}" ] && runners+=("$3")
mib=32
. "$(dirname "$0")/bench_inputs.sh"
file="$target"
[ "$target" = binaries ] && file="$work/binaries.bin"

median() { tr ' ' '\n' | grep . | sort -n | sed -n 2p; }
declare -A times cpus
run() {  # run NAME RUNNER ARGS...: appends the wall and processor times to times[NAME], cpus[NAME]
  local name="$1" scan="$2"
  shift 2
  /usr/bin/time -o "$work/t" -f "%e %U %S" "$scan" --alphabet-file "$work/printable" --min 7 \
    "$@" "$file" > /dev/null 2>&1
  read -r wall user system < "$work/t"
  times[$name]="${times[$name]:-} $wall"
  cpus[$name]="${cpus[$name]:-} $(echo "$user + $system" | bc -l)"
}
for round in 1 2 3; do
  for i in "${!runners[@]}"; do
    run "lines$i" "${runners[$i]}" --algo XOR8 --stdout
    run "xor8$i" "${runners[$i]}" --algo XOR8 --summary
    run "any$i" "${runners[$i]}" --algo ANY --summary
  done
done
printf "%s (%s bytes)\n" "$target" "$(stat -c %s "$file")"
printf "%-28s %11s %13s %11s %13s %15s\n" runner "XOR8 lines" "XOR8 summary" ratio \
  "ANY summary" "ANY vs XOR8"
for i in "${!runners[@]}"; do
  for kind in wall cpu; do
    declare -n figures=times
    [ $kind = cpu ] && declare -n figures=cpus
    l=$(echo "${figures[lines$i]}" | median)
    x=$(echo "${figures[xor8$i]}" | median)
    a=$(echo "${figures[any$i]}" | median)
    printf "%-28s %9.2f s %11.2f s %10.2fx %11.2f s %14.1fx\n" "${runners[$i]} ($kind)" "$l" \
      "$x" "$(echo "$x / $l" | bc -l)" "$a" "$(echo "$a / $x" | bc -l)"
  done
done

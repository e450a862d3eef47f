#!/usr/bin/env bash
# Key recovery (XORK's candidates) against one GNU strings pass over the same file, in one run:
# the recovery alone, and the recovery with one decoding pass per candidate (the runs of the
# printable alphabet, min 7, as the search finds them before scoring), on 32 MiB of concatenated
# /usr/bin binaries (nothing hidden) and on their first 1 MiB. Each figure is the median of three
# timings, rounds interleaved; the ratios are ours over strings -a -n 7.
#
#   bench/recovery_vs_strings.sh [build/bench/xork_bench] [MiB]
set -euo pipefail
bench="${1:-build/bench/xork_bench}"
mib="${2:-32}"
. "$(dirname "$0")/bench_inputs.sh"
head -c $((1 << 20)) "$work/binaries.bin" > "$work/sample.bin"

median() { tr ' ' '\n' | grep . | sort -n | sed -n 2p; }
printf '%-22s %6s %11s %12s %11s %9s %9s\n' file candidates "recovery s" "with passes" "strings s" ratio "ratio all"
for name in binaries sample; do
  file="$work/$name.bin"
  recovery="" passes="" theirs=""
  for round in 1 2 3; do
    out=$("$bench" --file="$file" --passes)
    recovery="$recovery $(sed -n 's/.* bytes in \([0-9.]*\) s$/\1/p' <<<"$out")"
    passes="$passes $(sed -n 's/.*printable) in \([0-9.]*\) s.*/\1/p' <<<"$out")"
    count=$(sed -n 's/^\([0-9]*\) candidates of.*/\1/p' <<<"$out")
    /usr/bin/time -o "$work/t" -f "%e" strings -a -n 7 "$file" > /dev/null
    theirs="$theirs $(cat "$work/t")"
  done
  r=$(echo "$recovery" | median)
  p=$(echo "$passes" | median)
  s=$(echo "$theirs" | median)
  size=$(( $(stat -c %s "$file") >> 20 ))
  printf '%-22s %6s %11.3f %12.3f %11.3f %8.2fx %8.2fx\n' "$name ($size MiB)" "$count" "$r" \
    "$(echo "$r + $p" | bc -l)" "$s" "$(echo "$r / $s" | bc -l)" "$(echo "($r + $p) / $s" | bc -l)"
done

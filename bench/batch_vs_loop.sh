#!/usr/bin/env bash
# A batch over folders against a shell loop of single-file runs over the same files, both with
# `--summary --json --top 3`: wall time, the process's CPU, each core's busy share during the
# batch (from /proc/stat, so other load on the machine counts too), and jq reading every record.
# Usage: bench/batch_vs_loop.sh [veskor-scan] [FOLDER...]   (default: /usr/share/doc /usr/bin)
set -eu
scan=$(realpath "${1:-build/veskor-scan}")
shift || true
folders=("$@")
[ ${#folders[@]} -gt 0 ] || folders=(/usr/share/doc /usr/bin)
mib=0
source "$(dirname "$0")/bench_inputs.sh"
run=("$scan" --algo XOR8 --alphabet-file "$work/printable" --summary --json --top 3)

# Busy and total jiffies of each core, one "busy total" pair a line.
cores() { awk '/^cpu[0-9]/ { t = 0; for (i = 2; i <= NF; i++) t += $i; print t - $5 - $6, t }' /proc/stat; }

before=$(cores)
/usr/bin/time -o "$work/time" -f "%e %P" "${run[@]}" --recursive "${folders[@]}" \
  > "$work/batch.jsonl" 2>/dev/null || true
after=$(cores)
read -r wall cpu < <(tail -n 1 "$work/time")
echo "batch: $wall s wall, $cpu CPU"
paste <(echo "$before") <(echo "$after") |
  awk '{ printf "core %d busy during the batch: %.0f%%\n", NR - 1, 100 * ($3 - $1) / ($4 - $2) }'
echo "records: $(jq -c . "$work/batch.jsonl" | wc -l) read by jq, $(jq -r 'select(.type == "file")
  | .status' "$work/batch.jsonl" | sort | uniq -c | paste -sd' ')"

# The loop takes the files the batch reported, in its order (the walk scans links to files too).
jq -j 'select(.type == "file") | .file + "\u0000"' "$work/batch.jsonl" > "$work/names"
echo "files: $(jq -r 'select(.type == "file") | .size' "$work/batch.jsonl" | awk '{ n++; s += $1 }
  END { printf "%d, %.0f MiB", n, s / 1048576 }') in ${folders[*]}"
start=$(date +%s.%N)
while IFS= read -r -d '' f; do
  "${run[@]}" "$f" 2>/dev/null || true
done < "$work/names" > "$work/loop.jsonl"
end=$(date +%s.%N)
loop=$(echo "$end - $start" | bc)
echo "loop: $loop s wall; the batch is $(echo "scale=2; $loop / $wall" | bc)x faster"
echo "file records: batch $(jq -r 'select(.type == "file") | .file' "$work/batch.jsonl" | wc -l)," \
  "loop $(jq -r 'select(.type == "file") | .file' "$work/loop.jsonl" | wc -l)"

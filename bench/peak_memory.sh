#!/usr/bin/env bash
# Runs a command and prints the peak of its anonymous resident memory (heap and stacks, not the
# pages of mapped files), sampled every 10 ms from /proc: the memory that grows with the work,
# beside the mapping of the input, which the kernel can drop at any time.
#   bench/peak_memory.sh build/veskor-scan --algo NONE --key 0 --alphabet a --stdout FILE
set -u
"$@" > /dev/null &
pid=$!
peak=0
while kill -0 "$pid" 2>/dev/null; do
  anon=$(awk '/^RssAnon:/ {print $2}' "/proc/$pid/status" 2>/dev/null)
  if [ -n "$anon" ] && [ "$anon" -gt "$peak" ]; then peak=$anon; fi
  sleep 0.01
done
wait "$pid"
status=$?
echo "peak anonymous memory: $peak KiB (exit status $status)" >&2
exit $status

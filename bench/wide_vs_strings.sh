#!/usr/bin/env bash
# NONEW with the printable alphabet against GNU strings' little-endian 16-bit search, as peers:
# the same strings at the same offsets? Run over files that hold UTF-16LE text.
#
#   bench/wide_vs_strings.sh [build/veskor-scan] FILE...
set -uo pipefail
scan="${1:-build/veskor-scan}"
shift || true
[ $# -gt 0 ] || set -- /usr/bin/gdb /usr/lib/x86_64-linux-gnu/libQt6Core.so.6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '\t' > "$work/printable"
for i in $(seq 32 126); do printf "\\$(printf %o "$i")" >> "$work/printable"; done
status=0
for file in "$@"; do
  strings -a -e l -n 7 -t d "$file" | sed 's/^ *//' | LC_ALL=C sort > "$work/theirs"
  "$scan" --algo NONEW --key 0 --alphabet-file "$work/printable" --min 7 --stdout \
    --format '%2:d %3:s' "$file" 2>/dev/null | tr -d '\r' | LC_ALL=C sort > "$work/ours"
  if cmp -s "$work/ours" "$work/theirs"; then
    echo "$file: $(wc -l < "$work/ours") strings, the same"
  else
    echo "$file: $(wc -l < "$work/ours") ours, $(wc -l < "$work/theirs") strings: DIFFERENT"
    diff "$work/ours" "$work/theirs" | head -10
    status=1
  fi
done
exit $status

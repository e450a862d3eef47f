#!/usr/bin/env bash
# The runner's outputs on fixed inputs, one md5sum a line: logs, --stdout lines, --summary tables,
# JSON records (their "seconds" removed), YARA rules, --list and the per-task lines of standard
# error. Two builds that print the same lines write the same bytes; run it before and after a
# change that must not change any output, and compare.
# Usage: bench/output_md5.sh [veskor-scan] [MiB of binaries, default 4]
set -eu
scan=$(realpath "${1:-build/veskor-scan}")
mib=${2:-4}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/bench_inputs.sh"
cp "$(dirname "$scan")/presets.dat" "$work/"
cd "$work"

# Hidden text: a fixed pseudo-random filler with sentences stored under several ciphers.
python3 - <<'EOF'
import random
rng = random.Random(34)
data = bytearray(rng.randrange(256) for _ in range(1 << 16))
def rol(v, r):
    return ((v << r) | (v >> (8 - r))) & 0xFF if r else v
def ror(v, r):
    return ((v >> r) | (v << (8 - r))) & 0xFF if r else v
stores = [
    (lambda b: b ^ 0x5A, b"hidden behind a simple exclusive or with 0x5A"),
    (lambda b: (b - 7) & 0xFF, b"added seven to every byte of this sentence"),
    (lambda b: (b + 13) & 0xFF, b"subtracted thirteen from each byte, http://example.org/x"),
    (lambda b: b ^ 0x21, b"w\0i\0d\0e\0 \0t\0e\0x\0t\0 \0u\0n\0d\0e\0r\0 \0x\0o\0r\0"),
    (lambda b: ror(b, 3) ^ 0x44, b"rotated and then exclusive or, key 0x344"),
    (lambda b: b, b"plain text that every tool sees in the file"),
]
at = 1000
for encode, text in stores:
    data[at:at + len(text)] = bytes(encode(b) for b in text)
    at += 7000
open("hidden.bin", "wb").write(data)
EOF
cp /usr/bin/ls ls.bin

# A program folder whose grid.cfg names several algorithms, presets and keys, an unknown
# algorithm and an unchecked row; its config.ini sets a format of its own.
mkdir table
cp presets.dat table/
printf '[Config]\r\nFormatStr=[%%d] %%*d: %%s\r\n' > table/config.ini
python3 - <<'EOF'
rows = [
    "True,-1,XOR8,Printable text,90,0,0,-1",
    "True,-1,ADD8,Letters and digits,,0,0,-1",
    "False,-1,SUB8,,,0,0,-1",
    "True,-1,SUB8,Printable text,$F3,0,0,-1",
    "True,-1,XOR8W,Printable text,,0,0,-1",
    "True,-1,XOR8ROL,Printable text,0x344,0,0,-1",
    "True,-1,NONE,URL,,0,0,-1",
    "True,-1,LOCAL,Printable text,,0,0,-1",
    "True,-1,XOR8,No such preset,,0,0,-1",
]
text = "\ufeff" + "".join(row + "\r\n" for row in rows)
open("table/grid.cfg", "wb").write(text.encode("utf-16-le"))
EOF

inputs=(binaries.bin printable ls.bin hidden.bin)
tag() { printf '%-40s ' "$1"; }
# The logs beside FILE after a run, in name order, then removed.
logs() {
  for log in $(ls -- *.log 2>/dev/null | sort); do tag "$1 $log"; md5sum < "$log" | cut -d' ' -f1; done
  rm -f -- *.log
}
out() {  # name, then the command: its standard output's md5 and its standard error's
  local name="$1"
  shift
  "$@" > stdout.txt 2> stderr.txt || true
  tag "$name stdout"; sed -E 's/"seconds":[0-9.e+-]+//' stdout.txt | md5sum | cut -d' ' -f1
  tag "$name stderr"; md5sum < stderr.txt | cut -d' ' -f1
}

out "list default" "$scan" --list --dir "$work"
out "list table" "$scan" --list --dir table
for f in "${inputs[@]}"; do
  out "$f table" "$scan" --dir "$work" "$f"; logs "$f table"
  out "$f grid" "$scan" --dir table "$f"; logs "$f grid"
  out "$f grid stdout" "$scan" --dir table --stdout "$f"
  out "$f grid summary" "$scan" --dir table --summary "$f"
  out "$f grid json" "$scan" --dir table --json "$f"
  out "$f grid summary json yara" "$scan" --dir table --summary --json --yara "$f"
  out "$f xor stdout" "$scan" --algo XOR8 --preset "Printable text" --stdout "$f"
  out "$f xor format" "$scan" --algo XOR8 --alphabet 'abcdefghijklmnopqrstuvwxyz ' --min 5 --regexp 'e' \
    --format '%3d %*d %s!' --stdout "$f"
  out "$f add summary" "$scan" --algo ADD8 --preset "Printable text" --summary "$f"
  out "$f xor8w json" "$scan" --algo XOR8W --preset "Printable text" --json --summary --top 5 "$f"
  out "$f yara" "$scan" --algo XOR8 --preset "Printable text" --summary --yara "$f"
done
for f in ls.bin hidden.bin printable; do
  out "$f any summary" "$scan" --algo ANY --preset "Printable text" --summary "$f"
  out "$f any" "$scan" --algo ANY --preset "Printable text" "$f"; logs "$f any"
  out "$f any json" "$scan" --algo ANY --preset "Printable text" --summary --json --yara "$f"
done
out "batch summary" "$scan" --dir table --summary hidden.bin ls.bin printable missing.bin
out "batch json" "$scan" --dir table --summary --json --top 3 hidden.bin ls.bin missing.bin table
out "batch jobs1" "$scan" --jobs 1 --algo SUB8 --preset "Printable text" --summary --json \
  hidden.bin ls.bin printable

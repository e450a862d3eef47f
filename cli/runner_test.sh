#!/usr/bin/env bash
# The runner end to end on real files: the worked example, the exit statuses, --stdout.
set -u
scan="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail=0
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1: expected [$2], got [$3]"
    fail=1
  fi
}

printf 'ab1234567cd89' > "$dir/ex.bin"
"$scan" --algo NONE --key 0 --alphabet 1234567890 --min 7 "$dir/ex.bin" 2>/dev/null
check "exit status" 0 $?
check "log bytes" "$(printf '  0 |  2 | 1234567\r\n' | od -An -c)" "$(od -An -c < "$dir/ex.bin_NONE.log")"

out=$("$scan" --algo XOR8 --key '$01' --alphabet 0123456789 --min 7 --stdout --format '%s@%2:d' \
  "$dir/ex.bin" 2>/dev/null | od -An -c)
check "stdout, no match under key 1" "" "$out"
[ -e "$dir/ex.bin_XOR8.log" ] && { echo "FAIL: --stdout wrote a log"; fail=1; }

"$scan" --algo NONE --alphabet 1 "$dir/missing.bin" 2>/dev/null
check "missing input" 1 $?
"$scan" --algo NONE --key 65x --alphabet 1 "$dir/ex.bin" 2>"$dir/err"
check "bad key" 1 $?
check "bad key message" "'65x' is not a valid integer value" "$(cat "$dir/err")"
"$scan" --algo NONE "$dir/ex.bin" 2>/dev/null
check "usage error" 2 $?
"$scan" --help >/dev/null
check "help" 0 $?

printf 'tel 5551234 and 1234567 and 5559999x' > "$dir/r.bin"
out=$("$scan" --algo NONE --key 0 --alphabet 0123456789 --regexp '^555\d+$' --stdout \
  --format '%2:d' "$dir/r.bin" 2>/dev/null | tr -d '\r' | paste -sd,)
check "--regexp filters" "4,28" "$out"
printf '^1234' > "$dir/re.txt"
out=$("$scan" --algo NONE --key 0 --alphabet 0123456789 --regexp-file "$dir/re.txt" --stdout \
  --format '%2:d' "$dir/r.bin" 2>/dev/null | tr -d '\r')
check "--regexp-file" "16" "$out"
"$scan" --algo NONE --key 0 --alphabet 0123456789 --regexp 'a(b' "$dir/r.bin" 2>"$dir/err"
check "invalid expression" "1 RegExp(comp): ParseReg Unmatched () (pos 3)" "$? $(tail -1 "$dir/err")"

if [ $fail -eq 0 ]; then echo "runner tests passed"; fi
exit $fail

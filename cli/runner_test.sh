#!/usr/bin/env bash
# The runner end to end on real files: the worked example, the exit statuses, --stdout.
set -u
scan="$1"
# VESKOR_TEST_SHRINK (set by the sanitizer scripts, where every byte read costs more)
# divides the largest inputs, as it does the engine's tests'; each stays far above what its
# checks need.
shrink=${VESKOR_TEST_SHRINK:-1}
size() { echo $(($1 / shrink))K; }  # size KIB: that many KiB, divided
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
"$scan" --help > "$dir/help"
check "help" 0 $?
check "-h is --help" "$(md5sum < "$dir/help")" "$("$scan" -h | md5sum)"
check "help lines wider than 80 columns" "" "$(awk 'length > 80' "$dir/help")"
# An unknown algorithm keeps its message and names the algorithms, each of which --help explains.
"$scan" --algo any --alphabet 1 "$dir/ex.bin" 2>"$dir/err"
check "unknown algorithm" "1 The algorithm \"any\" has no decoder: the task was skipped" \
  "$? $(head -1 "$dir/err")"
names=$(sed -n 's/^Algorithm names (case-sensitive): //p' "$dir/err")
check "algorithm names, first and last" "XOR8 ANY" "${names%% *} ${names##* }"
for name in $names; do
  grep -qw -- "$name" "$dir/help" || { echo "FAIL: --help does not name $name"; fail=1; }
done

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
# A message keeps a backslash and a tab as the window shows them.
"$scan" --algo NONE --key 0 --alphabet abc --min 1 --regexp 'ab\' --stdout "$dir/ex.bin" 2>"$dir/err"
check "backslash in a message" '1 RegExp(comp): Trailing \ (pos 3)' "$? $(tail -1 "$dir/err")"
tab=$(printf '\t')
"$scan" --algo NONE --key "${tab}65" --alphabet abc "$dir/ex.bin" 2>"$dir/err"
check "tab in a message" "1 '${tab}65' is not a valid integer value" "$? $(tail -1 "$dir/err")"

# Table mode: the three program files read from --dir, never written.
cfg="$dir/cfg"
mkdir "$cfg"
{ printf '\x06Digits'; head -c 249 /dev/zero; printf '\x0a0123456789'; head -c 245 /dev/zero
  head -c 256 /dev/zero; printf '\x07\x00'; } > "$cfg/presets.dat"
printf 'True,-1,NONE,Digits,0,0,0,-1\r\nFalse,-1,XOR8,Digits,,0,0,-1\r\n"a,b",-1,ADD8,Digits,1,0,0,-1\r\n' \
  > "$cfg/grid.cfg"
printf '[Config]\r\nFormatStr=%%d:%%2:d:%%s\r\n' > "$cfg/config.ini"
sums=$(cd "$cfg" && md5sum presets.dat grid.cfg config.ini)
"$scan" --dir "$cfg" "$dir/ex.bin" 2>/dev/null
check "table mode" 0 $?
check "table mode log" "0:2:1234567" "$(tr -d '\r' < "$dir/ex.bin_NONE.log")"
[ -e "$dir/ex.bin_XOR8.log" ] && { echo "FAIL: an unchecked row ran"; fail=1; }
check "list" "True,-1,NONE,Digits,0,0,0,-1|False,-1,XOR8,Digits,,0,0,-1|False,-1,ADD8,Digits,1,0,0,-1" \
  "$("$scan" --dir "$cfg" --list | paste -sd'|')"
"$scan" --dir "$cfg" --algo NONE --key 0 --preset Digits --stdout "$dir/ex.bin" > "$dir/out" 2>/dev/null
check "--preset" "0:2:1234567" "$(tr -d '\r' < "$dir/out")"
check "program files untouched" "$sums" "$(cd "$cfg" && md5sum presets.dat grid.cfg config.ini)"
# A row whose preset is gone is skipped with its reason; the rows after it still run.
printf 'True,-1,NONE,Gone,0,0,0,-1\r\nTrue,-1,SUB8,Digits,0,0,0,-1\r\n' > "$cfg/grid.cfg"
"$scan" --dir "$cfg" "$dir/ex.bin" 2>"$dir/err"
check "skipped row" "1|No preset is named \"Gone\": the task was skipped|NONE key 0 preset \"Gone\": 0 lines (skipped) -> no log|SUB8 key 0 preset \"Digits\": 1 lines -> $dir/ex.bin_SUB8.log" \
  "$?|$(paste -sd'|' "$dir/err")"
printf 'True,-1,NONE,Digits,0,0,0,-1,extra\r\n' > "$cfg/grid.cfg"
"$scan" --dir "$cfg" "$dir/ex.bin" 2>"$dir/err"
check "broken grid.cfg" "1 Cell out of bounds (8, 0)" "$? $(cat "$dir/err")"
rm "$cfg/grid.cfg" "$cfg/config.ini"
check "default rows" 4 "$("$scan" --dir "$cfg" --list | grep -c Digits)"

# The lines are the same for every number of threads.
head -c 300000 /dev/urandom > "$dir/rnd.bin"
printf '\t' > "$dir/printable"; for i in $(seq 32 126); do printf "\\$(printf %o $i)" >> "$dir/printable"; done
want=$("$scan" --algo XOR8 --alphabet-file "$dir/printable" --stdout --jobs 1 "$dir/rnd.bin" 2>/dev/null | md5sum)
for jobs in 2 8; do
  check "--jobs $jobs" "$want" \
    "$("$scan" --algo XOR8 --alphabet-file "$dir/printable" --stdout --jobs $jobs "$dir/rnd.bin" 2>/dev/null | md5sum)"
done

# --summary: the keys ranked, the hidden text's key first, no log written; NONE shows one key.
printf 'xx\001\002\tMeet me at the old mill at noon\tzz\377' | \
  perl -pe 's/(.)/chr(ord($1) ^ 0x5A)/ges' > "$dir/hidden.bin"
"$scan" --algo XOR8 --alphabet-file "$dir/printable" --summary "$dir/hidden.bin" > "$dir/sum" 2>/dev/null
check "summary header" "algo	key	score	lines	chars	longest	best" "$(head -1 "$dir/sum")"
check "summary first key" "XOR8	90" "$(sed -n 2p "$dir/sum" | cut -f1,2)"
check "summary best text" '\tMeet me at the old mill at noon\tzz' "$(sed -n 2p "$dir/sum" | cut -f7)"
[ -e "$dir/hidden.bin_XOR8.log" ] && { echo "FAIL: --summary wrote a log"; fail=1; }
check "summary of NONE" "NONE	1" "$("$scan" --algo NONE --alphabet 1234567 --summary "$dir/ex.bin" 2>/dev/null | tail -n +2 | cut -f1,2)"
# Standard error counts the summary's strings: the total of its lines column.
"$scan" --algo XOR8 --alphabet-file "$dir/printable" --min 3 --summary "$dir/hidden.bin" >"$dir/sum" 2>"$dir/err"
check "summary line count" "$(tail -n +2 "$dir/sum" | awk -F'\t' '{n += $4} END {print n " lines"}')" \
  "$(grep -o '[0-9]* lines' "$dir/err")"

# Messages name the file they concern, with control bytes shown as escapes.
mkdir "$dir/ex.bin_ADD8.log"
"$scan" --algo ADD8 --key 0 --alphabet 1 "$dir/ex.bin" 2>"$dir/err"
check "log that is a folder" "1 $dir/ex.bin_ADD8.log: I/O error 21" "$? $(cat "$dir/err")"
"$scan" --algo NONE --key 0 --alphabet 1 "$dir/miss"$'\n'"ing.bin" 2>"$dir/err"
check "input message names the file" "1 $dir/miss\ning.bin: Невозможно открыть файл!" \
  "$? $(head -1 "$dir/err")"
"$scan" --algo NONE --key 0 --alphabet 1 "$dir/a"$'\e[2J\r'"b.bin" 2>"$dir/err"
check "escape and CR in a name" "1 $dir/a\x1B[2J\rb.bin: Невозможно открыть файл!" \
  "$? $(head -1 "$dir/err")"
# A -file option reads no more than it may take: /dev/zero is refused at once.
for option in --alphabet-file --regexp-file; do
  "$scan" --algo NONE $option /dev/zero --alphabet 1 "$dir/ex.bin" 2>"$dir/err"
  check "$option /dev/zero" "2 veskor-scan: $option: at most 255 bytes" "$? $(head -1 "$dir/err")"
done

# -h is --help, never a file's name (which would leave logs named after it).
scan_path=$(realpath "$scan")
(cd "$dir" && "$scan_path" -h > "$dir/h" 2>/dev/null)
check "-h" "0 $("$scan" --help | md5sum)" "$? $(md5sum < "$dir/h")"
check "-h made no log" "" "$(cd "$dir" && ls -- -h_* 2>/dev/null)"
# An input that cannot be read leaves the earlier log of its name as it was, and makes none.
printf 'earlier' > "$dir/gone.bin_XOR8.log"
mkfifo "$dir/fifo.in"
"$scan" --algo XOR8 --alphabet abc "$dir/gone.bin" "$dir/fifo.in" 2>/dev/null
check "earlier log kept, none made" "1 earlier 0" \
  "$? $(cat "$dir/gone.bin_XOR8.log") $(ls "$dir/fifo.in_XOR8.log" 2>/dev/null | wc -l)"
# A list of names is read a line at a time, and a line no name can be is refused at once.
"$scan" --algo XOR8 --alphabet abc --files-from /dev/zero 2>"$dir/err"
check "--files-from /dev/zero" \
  "2 veskor-scan: --files-from: a line longer than 4096 bytes, which no file name can be" \
  "$? $(head -1 "$dir/err")"
# Each file record gives the system's reason beside the run's message, and what shaped it.
mkdir "$dir/why"
ln -s "$dir/why/loop" "$dir/why/loop"
"$scan" --algo XOR8 --key 90 --alphabet 'a"b' --min 3 --format %d --summary --json --top 2 \
  "$dir/why/missing" "$dir/why" "$dir/why/loop" "$dir/fifo.in" > "$dir/out" 2>/dev/null
check "reasons" "Невозможно открыть файл! No such file or directory|Невозможно открыть файл! Is a directory|Невозможно открыть файл! Too many levels of symbolic links|Невозможно открыть файл! " \
  "$(jq -r '"\(.message) \(.reason)"' "$dir/out" | paste -sd'|')"
check "options" \
  'XOR8 key 90 preset "command line" alphabet "a\"b" min 3 max 0 regexp ""; format "%d"; --summary; --top 2' \
  "$(jq -r '.options' "$dir/out" | sort -u)"
rm -rf "$dir/why" "$dir/fifo.in"

# Many files: each as a single run of its own, in the order given.
b="$dir/batch"
mkdir -p "$b/in/sub" "$b/in/sub2"
cp "$dir/hidden.bin" "$b/in/sub/hidden.bin"
cp "$dir/ex.bin" "$b/in/ex.bin"
: > "$b/in/empty.bin"
mkfifo "$b/in/fifo"
ln -s sub2 "$b/in/link_to_folder"
ln -s ex.bin "$b/in/link_to_file"
printf 'Meet me' > "$b/in/"$'\xe0\n'.bin
one=("$scan" --algo XOR8 --alphabet-file "$dir/printable" --min 8)
single() { "${one[@]}" --stdout --format '%d|%2:d|%s' "$1" 2>/dev/null | tr -d '\r'; }
want="$(single "$dir/hidden.bin"; single "$dir/ex.bin")"
check "--stdout over two files" "$want" \
  "$("${one[@]}" --stdout --format '%d|%2:d|%s' "$dir/hidden.bin" "$dir/ex.bin" 2>/dev/null | tr -d '\r')"
rm -f "$dir"/hidden.bin_XOR8.log "$dir"/ex.bin_XOR8.log
"${one[@]}" "$dir/hidden.bin" "$dir/ex.bin" 2>/dev/null
check "a log beside each file" "0 2" "$? $(ls "$dir"/hidden.bin_XOR8.log "$dir"/ex.bin_XOR8.log | wc -l)"
# Several files say which is which: the per-task lines begin with the file's name, and each table
# follows a head-like header; one file, neither.
"${one[@]}" --summary "$dir/hidden.bin" "$dir/ex.bin" > "$b/tables" 2> "$b/lines"
check "headers before the tables" "==> $dir/hidden.bin <==|algo|==> $dir/ex.bin <==|algo" \
  "$(grep -E '^(==>|algo)' "$b/tables" | cut -f1 | paste -sd'|')"
check "lines that name their file" "$dir/hidden.bin: XOR8 key all|$dir/ex.bin: XOR8 key all" \
  "$(sed 's/ preset.*//' "$b/lines" | paste -sd'|')"
"${one[@]}" --summary "$dir/hidden.bin" > "$b/tables" 2> "$b/lines"
check "one file names none" "algo|XOR8 key all" \
  "$(head -c 4 "$b/tables")|$(sed 's/ preset.*//' "$b/lines")"

# A folder walked in byte order of its names: a FIFO and a link to a folder are skipped with
# their reason, a link to a file is scanned, an empty file is an error and the batch goes on.
"${one[@]}" --json --recursive "$b/in" "$dir/missing.bin" > "$b/out" 2>/dev/null
check "batch with errors" 1 $?
check "file records in order" \
  "empty.bin error Невозможно спроецировать файл!|ex.bin done|fifo skipped a FIFO: not scanned|link_to_file done|link_to_folder skipped a symbolic link to a folder: not followed|sub/hidden.bin done|а\n.bin done|missing.bin error Невозможно открыть файл!" \
  "$(jq -r 'select(.type == "file") | "\(.file | sub(".*/(in|tmp[^/]*)/"; "") | gsub("\n"; "\\n")) \(.status) \(.message)" | rtrimstr(" ")' "$b/out" | paste -sd'|')"
check "a name that is not UTF-8" "$(printf "$b/in/"$'\xe0\n'.bin | od -An -tx1 | tr -d ' \n')" \
  "$(jq -r 'select(.file_hex) | .file_hex' "$b/out")"
check "sha256" "$(sha256sum < "$dir/hidden.bin" | cut -d' ' -f1)" \
  "$(jq -r 'select(.type == "file" and (.file | endswith("sub/hidden.bin"))) | .sha256' "$b/out")"
# Each file's records: its strings, then its file record.
check "record order" "$(jq -r '.file' "$b/out" | uniq | sort | uniq -d)" ""
check "file record last" "file" "$(jq -sr 'group_by(.file)[] | last | .type' "$b/out" | sort -u)"
for f in "$b/in/sub/hidden.bin" "$b/in/ex.bin"; do
  check "string records of $(basename "$f")" "$(single "$f")" \
    "$(jq -r --arg f "$f" 'select(.type == "string" and .file == $f) | "\(.key)|\(.offset)|\(.text)"' "$b/out")"
done
[ -e "$b/in/ex.bin_XOR8.log" ] && { echo "FAIL: --json wrote a log"; fail=1; }
"${one[@]}" --json "$b/in" > "$b/out" 2>/dev/null
check "folder without --recursive" "1 error Невозможно открыть файл!" \
  "$? $(jq -r '"\(.status) \(.message)"' "$b/out")"

# --files-from with NUL-separated names (a newline is part of a name); --max-size skips.
printf '%s\0' "$b/in/ex.bin" "$b/in/"$'\xe0\n'.bin "$b/in/sub/hidden.bin" |
  "${one[@]}" --json --summary --top 2 --files-from - --null --max-size 39 > "$b/out" 2>/dev/null
check "--files-from --null" "0 done done skipped" \
  "$? $(jq -r 'select(.type == "file") | .status' "$b/out" | paste -sd' ')"
# The key records are the summary table's rows, the first --top of them.
"${one[@]}" --summary "$b/in/ex.bin" 2>/dev/null | tail -n +2 | head -2 | cut -f1-6 > "$b/want"
check "key records" "$(cat "$b/want")" \
  "$(jq -r 'select(.type == "key") | [.algo, .key, .score, .lines, .chars, .longest] | @tsv' "$b/out")"
# The records are the same for every number of threads, but for the time each file took.
for jobs in 1 2; do
  "${one[@]}" --json --jobs $jobs --recursive "$b/in" 2>/dev/null | jq -c 'del(.seconds)' > "$b/jobs$jobs"
done
check "--json --jobs 1 and 2" "" "$(cmp "$b/jobs1" "$b/jobs2" 2>&1)"
"${one[@]}" --json --files-from "$b/no-list" 2>/dev/null
check "unreadable list" 2 $?

# --yara: a rule of each task's best key, compiled and run by YARA itself: it finds the file it
# came from, and not the same file without its secret. The filler is the same for every run.
y="$dir/yara"
mkdir "$y"
perl -e 'srand(7); print map { chr(int rand 256) } 1 .. 3000' > "$y/before"
perl -e 'srand(8); print map { chr(int rand 256) } 1 .. 2000' > "$y/after"
cat "$y/before" "$y/after" > "$y/clean.bin"
secret='Meet me at the old mill at noon and bring the ledger'
hide() {  # hide NAME PERL-EXPRESSION-OF-$c: the secret stored between the filler
  { cat "$y/before"; printf '%s' "$secret" | perl -ne "print map { \$c = ord; $2 } split //"
    cat "$y/after"; } > "$y/$1.bin"
}
hide XOR8 'chr($c ^ 0x5A)'
hide XOR8W 'chr($c ^ 0x33) . chr(0x33)'
hide ADD8 'chr(($c - 0x21) & 255)'
hide XOR8ROL 'chr(((($c >> 3) | ($c << 5)) & 255) ^ 0x5A)'
# XORK's key repeats from the file's offset 0; the secret starts at 3000, a multiple of 5.
hide XORK 'chr($c ^ (0x8C, 0x61, 0xD2, 0x63, 0xC5)[$i++ % 5])'
for case in 'XOR8 90 xor(90) ascii' 'XOR8W 51 xor(51) wide' 'ADD8 33 {' 'XOR8ROL 0x35A {' \
  'XORK 0x8c61d263c5 { - 8c:61:d2:63:c5'; do
  set -- $case
  "$scan" --algo "$1" ${5:+--key "$5"} --alphabet-file "$dir/printable" --summary --yara \
    "$y/$1.bin" > "$y/$1.yar" 2>/dev/null
  name=$(sed -n 's/^rule //p' "$y/$1.yar")
  check "$1 rule name" "_$1_$2" "${name#veskor_????????????????}"
  grep -q "^    \$s1 = .*${3}" "$y/$1.yar" || { echo "FAIL: $1 rule strings: $(cat "$y/$1.yar")"; fail=1; }
  check "$1 rule finds its file" "$name $y/$1.bin" "$(yara -w "$y/$1.yar" "$y/$1.bin" 2>&1)"
  check "$1 rule without the secret" "" "$(yara -w "$y/$1.yar" "$y/clean.bin" 2>&1)"
done
# With --json each rule is a record before its file's record; the rules of a batch compile
# together, a file given twice among them.
"$scan" --algo XOR8 --alphabet-file "$dir/printable" --summary --json --top 1 --yara \
  "$y/XOR8.bin" "$y/clean.bin" "$y/XOR8.bin" > "$y/out" 2>/dev/null
check "rule records" "key rule file key file key rule file" "$(jq -r .type "$y/out" | paste -sd' ')"
jq -r 'select(.type == "rule") | .rule' "$y/out" > "$y/all.yar"
check "a batch's rules" "$(sed -n 's/^rule //p' "$y/XOR8.yar") $y/XOR8.bin|$(sed -n 's/^rule //p' "$y/XOR8.yar")_2 $y/XOR8.bin" \
  "$(yara -w "$y/all.yar" "$y/XOR8.bin" 2>&1 | paste -sd'|')"

# Files side by side (--jobs 4) or one after another (--jobs 1): the same output, byte for byte
# but for the time each file took; the records, the lines, the rules' names, the messages.
yes 'line of text 0123456789' | head -c "$(size 2048)" > "$y/lines.bin"
for jobs in 1 4; do
  "$scan" --algo XOR8 --alphabet-file "$dir/printable" --summary --json --yara --jobs $jobs \
    --recursive "$b/in" "$y" "$y/XOR8.bin" 2>"$dir/err$jobs" | jq -c 'del(.seconds)' > "$dir/out$jobs"
  "${one[@]}" --stdout --jobs $jobs "$y/lines.bin" "$b/in/ex.bin" "$y/XOR8.bin" "$y/lines.bin" \
    2>>"$dir/err$jobs" >> "$dir/out$jobs"
done
check "side by side, standard output" "" "$(cmp "$dir/out1" "$dir/out4" 2>&1)"
check "side by side, standard error" "" "$(cmp "$dir/err1" "$dir/err4" 2>&1)"

# Many machines: GNU parallel splits a folder over runs, and the records are a single run's. The
# files are unique, as --skip-done knows a file by its content; a few hide a text under XOR8 90.
c="$dir/corpus"
p="$dir/split"
mkdir "$c" "$p"
for i in $(seq -w 0 219); do
  if [ $((10#$i % 50)) -eq 7 ]; then
    printf 'hdr %s\001\002 Meet me at the old mill, file %s\377' $i $i |
      perl -pe 's/(.)/chr(ord($1) ^ 0x5A)/ges'
  else
    printf 'sample %s \001\002\003 %*s' $i $((10#$i % 40)) x
  fi > "$c/f$i.bin"
done
ranked=("${one[@]}" --summary --json --top 3)
sorted() { jq -sc 'map(del(.seconds)) | sort_by(.file)[]' "$@"; }
done_files() { jq -Rr 'fromjson? | select(.type == "file" and .status == "done") | .file' "$@"; }
printf '%s\n' "$c"/* > "$p/all"
"${ranked[@]}" --recursive "$c" > "$p/single" 2>/dev/null
check "single run over the corpus" "0 " "$? $(done_files "$p/single" | diff "$p/all" -)"
check "hidden texts found" 5 \
  "$(jq -r 'select(.type == "key" and .key == 90 and (.best | contains("Meet me"))) | .file' "$p/single" | wc -l)"
# parallel keeps its state under the home folder: the test's own, not the user's.
printf '%s\0' "$c"/* |
  PARALLEL_HOME="$p/parallel-home" parallel --will-cite -0 -X -j2 --joblog "$p/jobs" "${ranked[@]}" > "$p/parallel" 2>/dev/null
check "parallel: exit status, more than one run" "0 yes" \
  "$? $([ "$(tail -n +2 "$p/jobs" | wc -l)" -ge 2 ] && echo yes)"
check "parallel: the single run's records" "" "$(cmp <(sorted "$p/single") <(sorted "$p/parallel") 2>&1)"

# Resumed over a half-finished output, cut in the middle of a line: only the rest is scanned,
# with the records a single run gives them, and every file is done once over the two outputs.
line=$(grep -n '"type":"file"' "$p/single" | sed -n 110p | cut -d: -f1)
head -c $(($(head -n "$line" "$p/single" | wc -c) + 25)) "$p/single" > "$p/half"
"${ranked[@]}" --recursive --skip-done "$p/half" "$c" > "$p/rest" 2>/dev/null
check "resumed: exit status, every file done once" "0 " \
  "$? $(done_files "$p/half" "$p/rest" | sort | diff "$p/all" -)"
check "resumed: passed over" "110 done before" \
  "$(jq -r 'select(.status == "skipped") | .message' "$p/rest" | uniq -c | sed 's/^ *//')"
# Each output's records of the files it finished.
finished() {
  jq -Rc 'fromjson?' "$1" |
    jq -sc 'map(select(.type == "file" and .status == "done") | .file) as $done
            | .[] | select(.file | IN($done[]))'
}
check "resumed: the single run's records" "" \
  "$(cmp <(sorted "$p/single") <(cat <(finished "$p/half") <(finished "$p/rest") | sorted) 2>&1)"

# A batch killed in the middle of a slow file, resumed: every file done once.
yes 'line of text 0123456789' | head -c "$(size 4096)" > "$p/slow.bin"
printf '%s\n' "$c"/f00?.bin "$p/slow.bin" "$c"/f01?.bin > "$p/list"
"${ranked[@]}" --files-from "$p/list" > "$p/killed" 2>/dev/null & pid=$!
until grep -q 'f009.bin","size"' "$p/killed" || ! kill -0 $pid 2>/dev/null; do sleep 0.02; done
kill -KILL $pid
{ wait $pid; } 2>/dev/null
"${ranked[@]}" --files-from "$p/list" --skip-done "$p/killed" > "$p/resumed" 2>/dev/null
check "killed and resumed: every file done once" "0 " \
  "$? $(done_files "$p/killed" "$p/resumed" | sort | diff <(sort "$p/list") -)"

# --timeout stops the file that takes longer and the batch goes on; exit status 1. No machine
# scans that many bytes under every key in a millisecond (the small files may time out too).
yes 'line of text 0123456789' | head -c "$(size 16384)" > "$p/slow.bin"
"${ranked[@]}" --timeout 0.001 "$c/f000.bin" "$p/slow.bin" "$c/f001.bin" > "$p/out" 2>"$p/err"
check "--timeout: exit status, files" "1 f000.bin slow.bin f001.bin" \
  "$? $(jq -r 'select(.type == "file") | .file' "$p/out" | xargs -rn1 basename | paste -sd' ')"
check "--timeout: the slow file" "timeout " \
  "$(jq -r 'select(.type == "file" and (.file | endswith("slow.bin"))) | "\(.status) \(.message)"' "$p/out")"
check "--timeout: message" "$p/slow.bin: longer than --timeout: stopped" \
  "$(grep -F "$p/slow.bin: longer" "$p/err")"
# A file that did not finish writes no key records and no rule: a part of its ranking would read
# as all of it.
check "--timeout: no key records" "" \
  "$(jq -r 'select(.type != "file" and (.file | endswith("slow.bin"))) | .type' "$p/out")"
# The deadline covers the hash too: a gibibyte is stopped before its hash is done.
truncate -s 1G "$p/sparse.bin"
"${ranked[@]}" --timeout 0.001 "$p/sparse.bin" > "$p/out" 2>/dev/null
check "--timeout covers the hash" "1 timeout " "$? $(jq -r '"\(.status) \(.sha256)"' "$p/out")"
rm "$p/sparse.bin"
# --skip-done passes over a file only when the earlier run's options were this run's.
"${ranked[@]}" "$c/f000.bin" > "$p/xor" 2>/dev/null
other=("$scan" --algo ADD8 --alphabet-file "$dir/printable" --min 8 --summary --json --top 3)
for case in "other:${other[*]}" "same:${ranked[*]}"; do
  read -ra run <<< "${case#*:}"
  printf '%s ' "${case%%:*}"
  "${run[@]}" --skip-done "$p/xor" "$c/f000.bin" 2>/dev/null | jq -r 'select(.type == "file") | "\(.status) \(.message)"'
done > "$p/statuses"
check "--skip-done under other options" "other done |same skipped done before" \
  "$(paste -sd'|' "$p/statuses")"
# Without --json the log begun stays, as after Stop, and no temporary file is left.
"${one[@]}" --timeout 0.001 "$p/slow.bin" 2>/dev/null
check "--timeout: log kept" "1 1 0" \
  "$? $(ls "$p/slow.bin_XOR8.log" | wc -l) $(find "$p" -name '.slow.bin*' | wc -l)"
# SIGINT (which a script's background job ignores unless set back) still ends the whole batch.
perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV' "${ranked[@]}" --timeout 1000 \
  "$c/f000.bin" "$p/slow.bin" "$c/f001.bin" > "$p/out" 2>/dev/null & pid=$!
until grep -q 'f000.bin","size"' "$p/out" || ! kill -0 $pid 2>/dev/null; do sleep 0.02; done
kill -INT $pid
wait $pid
check "SIGINT over --timeout ends the batch" "1 done|error stopped" \
  "$? $(jq -r 'select(.type == "file") | "\(.status) \(.message)" | rtrimstr(" ")' "$p/out" |
    paste -sd'|')"
rm -rf "$p" "$c"

# A signal ends the row as Stop does: the log takes its name with the lines so far, and no
# temporary file stays beside it. SIGKILL cannot be caught: the next log of the name removes what
# it left. The input makes the run last long (all keys, many lines): the signal comes while the
# temporary file is being written.
yes 'line of text 0123456789' | head -c "$(size 16384)" > "$dir/big.bin"
long_run=("$scan" --algo XOR8 --alphabet 'abcdefghijklmnopqrstuvwxyz 0123456789' --min 4)
temporaries() { find "$dir" -maxdepth 1 -name '.big.bin_XOR8.log.??????' | wc -l; }
for signal in TERM HUP PIPE KILL; do
  rm -f "$dir/big.bin_XOR8.log"
  "${long_run[@]}" "$dir/big.bin" 2>/dev/null & pid=$!
  while [ "$(temporaries)" -eq 0 ] && kill -0 $pid 2>/dev/null; do sleep 0.02; done
  kill -$signal $pid
  { wait $pid; } 2>/dev/null
  if [ $signal = KILL ]; then
    check "SIGKILL leaves its temporary file" 1 "$(temporaries)"
    "${long_run[@]}" --key 1 "$dir/big.bin" 2>/dev/null
  fi
  check "SIG$signal: temporary files left" 0 "$(temporaries)"
  [ -f "$dir/big.bin_XOR8.log" ] || { echo "FAIL: SIG$signal: no log"; fail=1; }
done
# A reader that goes away ends the run through the write's error, not by the signal's death.
"${long_run[@]}" --stdout "$dir/big.bin" 2>/dev/null | head -c 1000 > /dev/null
check "--stdout into a closed pipe" "1 0" "${PIPESTATUS[0]} $(find "$dir" -name '.*' | wc -l)"
rm -f "$dir/big.bin" "$dir/big.bin_XOR8.log"

# Hidden executables: a program of this machine stored under XOR8 0x5A inside random bytes (the
# runner's own --decode stores it: XOR undoes itself) is carved back byte for byte, its record
# before the file's, and --decode gives the same bytes again from its range.
h="$dir/hidden"
mkdir "$h"
program=/usr/bin/true
"$scan" --decode --algo XOR8 --key 0x5A "$program" > "$h/stored"
check "--decode to a pipe" 0 $?
head -c 4099 /dev/urandom > "$h/host.bin"
cat "$h/stored" >> "$h/host.bin"
head -c 999 /dev/urandom >> "$h/host.bin"
carve=("$scan" --algo XOR8 --alphabet abc --summary --json --carve "$h/out")
"${carve[@]}" "$h/host.bin" > "$h/records" 2>/dev/null
size=$(stat -c %s "$program")
check "--carve: exit status, records" "0 embedded,file" \
  "$? $(jq -r 'select(.type != "key") | .type' "$h/records" | paste -sd,)"
check "--carve: the record" "ELF 4099 $size XOR8 90 false $(sha256sum < "$program" | cut -c1-64)" \
  "$(jq -r 'select(.type == "embedded") | "\(.format) \(.offset) \(.size) \(.algo) \(.key) \(.truncated) \(.sha256)"' "$h/records")"
path=$(jq -r 'select(.type == "embedded") | .path' "$h/records")
check "--carve: the file's name" "$(sha256sum < "$h/host.bin" | cut -c1-16)_4099_XOR8_90.elf" \
  "$(basename "$path")"
check "--carve: the bytes" "" "$(cmp "$path" "$program" 2>&1)"
check "--carve: in the options" 1 "$(jq -r 'select(.type == "file") | .options' "$h/records" | grep -c -- '--carve')"
# Again into the same folder: a name taken gets _2, and the first file stays as it was.
"$scan" --algo XOR8 --key 90 --alphabet abc --summary --carve "$h/out" "$h/host.bin" 2>"$h/err" >/dev/null
check "--carve: a line on standard error" "ELF at 4099, $size bytes, XOR8 key 90 -> ${path%.elf}_2.elf" \
  "$(grep '^ELF' "$h/err")"
check "--carve: never overwritten" "" "$(cmp "$path" "${path%.elf}_2.elf" 2>&1)"
"$scan" --decode --algo XOR8 --key 0x5A --range "4099:$((4099 + size))" -o "$h/decoded" "$h/host.bin"
check "--decode --range -o" "0 " "$? $(cmp "$h/decoded" "$program" 2>&1)"
"$scan" --decode --algo XOR8 --key 1 "$h/host.bin" 2>"$h/err" | head -c 10 > /dev/null
check "--decode into a closed pipe: quiet" "" "$(cat "$h/err")"
# The program itself is no hidden file; a folder that cannot be made is a wrong command line,
# before any file is read.
"$scan" --algo NONE --alphabet abc --summary --carve "$h/none" "$program" > /dev/null 2>&1
check "--carve: the file at offset 0" "0 0" "$? $(find "$h/none" -type f | wc -l)"
"$scan" --algo XOR8 --alphabet abc --carve "$h/host.bin/sub" "$h/host.bin" 2>"$h/err"
check "--carve: a folder that cannot be made" "2 veskor-scan: --carve: $h/host.bin/sub:" \
  "$? $(head -1 "$h/err" | cut -d' ' -f1-3)"
check "--carve: no log then" 0 "$(find "$h" -name '*.log' | wc -l)"
rm -rf "$h"

if [ $fail -eq 0 ]; then echo "runner tests passed"; fi
exit $fail

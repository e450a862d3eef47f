#!/usr/bin/env bash
# An installation into a prefix its user can write, started by a new user: the runner runs the
# default tasks on the starter presets and makes nothing; the window starts on them, seeds and
# keeps its files in the user's folder, and the runner then reads them there. Nothing but the
# two programs is ever in PREFIX/bin.
#
#   install_test.sh BUILD_DIR
set -u
build="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail=0
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1: expected [$2], got [$3]"
    fail=1
  fi
}

prefix="$dir/prefix"
export HOME="$dir/home"
unset XDG_CONFIG_HOME
mkdir -p "$HOME"
cmake --install "$build" --prefix "$prefix" > "$dir/install.log" || { cat "$dir/install.log"; exit 1; }
programs="veskor veskor-scan"
user="$HOME/.config/veskor"

rows=$("$prefix/bin/veskor-scan" --list | paste -sd'|')
check "the runner's rows" "True,-1,XOR8,Printable text,,0,0,-1|True,-1,ADD8,Printable text,,0,0,-1|False,-1,SUB8,Printable text,,0,0,-1|True,-1,NONE,Printable text,,0,0,-1" "$rows"
printf 'plain text here\n' > "$dir/sample.txt"
"$prefix/bin/veskor-scan" "$dir/sample.txt" 2> "$dir/err"
check "the runner's exit status" 0 $?
check "the runner's NONE row" "NONE key all preset \"Printable text\": 255 lines -> $dir/sample.txt_NONE.log" \
  "$(grep '^NONE' "$dir/err")"
check "the runner made no folder" no "$([ -e "$user" ] && echo yes || echo no)"

# The window, until it has claimed the user's folder and seeded it; then ended as a session's
# end would end it, saving its files.
QT_QPA_PLATFORM=offscreen "$prefix/bin/veskor" > "$dir/window.log" 2>&1 &
window=$!
for _ in $(seq 600); do
  [ -e "$user/.veskor.lock" ] && [ -s "$user/presets.dat" ] && break
  kill -0 "$window" 2>/dev/null || break
  sleep 0.1
done
kill -TERM "$window" 2>/dev/null
wait "$window"
check "the window's exit status" 0 $?
check "the seeded presets" same \
  "$(cmp -s "$prefix/share/veskor/presets.dat" "$user/presets.dat" && echo same || echo different)"
check "the window's files" "config.ini grid.cfg presets.dat" "$(cd "$user" && ls | paste -sd' ')"
check "PREFIX/bin" "$programs" "$(LC_ALL=C ls -A "$prefix/bin" | paste -sd" ")"
check "the runner reads the window's table" "$rows" "$("$prefix/bin/veskor-scan" --list | paste -sd'|')"

[ $fail -eq 0 ] || { echo "window output:"; cat "$dir/window.log"; }
exit $fail

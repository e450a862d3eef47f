#!/usr/bin/env bash
# The README's examples, run as written: every ```console block, in order, in one scratch folder
# where build/ is the build tree and scripts/ the repository's. A line "$ COMMAND" (continued by
# lines "> ...") is run by bash; the lines under it, up to the next command or the block's end,
# are what it must print on standard output (its standard error is not compared; a CR before a
# line's end is dropped, since a log's lines end with CR LF). A changed figure is changed in the
# README alone.
#
#   readme_examples_test.sh README BUILD_DIR SCRIPTS_DIR
set -u
readme=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ln -s "$(realpath "$2")" "$work/build"
ln -s "$(realpath "$3")" "$work/scripts"
cd "$work" || exit 1

fail=0
commands=0
command="" expected="" outputs=0 started=0
run() {  # runs the command collected so far and compares its output with what was collected
  [ -n "$command" ] || return
  commands=$((commands + 1))
  local actual
  actual=$(bash -c "$command" 2>>"$work/stderr.log" | sed 's/\r$//')
  if [ "$actual" != "$expected" ]; then
    echo "FAIL: README line $started: $command"
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") | sed 's/^/  /'
    fail=1
  fi
  command="" expected="" outputs=0
}

output() {  # a line of the output expected of the command
  if [ $outputs -eq 0 ]; then expected="$1"; else expected+=$'\n'"$1"; fi
  outputs=$((outputs + 1))
}

number=0 in_block=0
while IFS= read -r line || [ -n "$line" ]; do
  number=$((number + 1))
  if [ $in_block -eq 0 ]; then
    [ "$line" = '```console' ] && in_block=1
    continue
  fi
  case "$line" in
    '```')
      run
      in_block=0
      ;;
    '$ '*)
      run
      command="${line#\$ }" started=$number
      ;;
    '> '*)
      if [ $outputs -eq 0 ] && [ -n "$command" ]; then
        command+=$'\n'"${line#> }"
      else
        output "$line"
      fi
      ;;
    *)
      output "$line"
      ;;
  esac
done < "$readme"

if [ $commands -eq 0 ]; then
  echo "FAIL: no example found in $readme"
  fail=1
fi
[ $fail -eq 0 ] && echo "$commands README commands print what the README shows"
exit $fail

#!/usr/bin/env bash
# Runs each fuzz target for SECONDS (default 5) from the seeds in fuzz/corpus/, keeping what it
# finds in build-asan/corpus/; with TARGETs after SECONDS (key, recovery, ...), only those. The
# targets are built by scripts/sanitize.sh (clang, libFuzzer, ASan, UBSan), with the unit tests
# of the same build. The targets run as many at once as there are processors. With CI=true,
# warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-5}"
targets=(regexp format table ini presets key recovery carve)
if [ $# -gt 1 ]; then targets=("${@:2}"); fi
scripts/sanitize.sh --build-only > /dev/null
# One target's run; its report (a line, or the failure and its log's end) into TARGET.report.
run() {
  local target="$1" report="build-asan/$1.report"
  mkdir -p "build-asan/corpus/$target"
  if ! build-asan/fuzz/${target}_fuzz "build-asan/corpus/$target" "fuzz/corpus/$target" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
      > "build-asan/$target.log" 2>&1; then
    { echo "fuzz: $target failed"; tail -40 "build-asan/$target.log"; } > "$report"
    return 1
  fi
  echo "fuzz: $target: $(grep -o 'number_of_executed_units: [0-9]*' "build-asan/$target.log") in ${seconds} s" \
    > "$report"
}
# As many targets at once as there are processors, each for its SECONDS: the reports in order.
width=$(nproc)
status=0
for ((i = 0; i < ${#targets[@]}; i += width)); do
  group=("${targets[@]:i:width}")
  pids=()
  for target in "${group[@]}"; do
    run "$target" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
  for target in "${group[@]}"; do cat "build-asan/$target.report"; done
done
exit $status

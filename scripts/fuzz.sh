#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) into build-fuzz/ and runs each for
# SECONDS (default 5) from the seeds in fuzz/corpus/, keeping what it finds in build-fuzz/corpus/.
# With CI=true, warnings are errors (as in scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-5}"
werror=OFF
[ "${CI:-}" = true ] && werror=ON
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ \
  -DVESKOR_FUZZ=ON -DVESKOR_BUILD_UI=OFF -DVESKOR_BUILD_TESTS=OFF -DVESKOR_BUILD_BENCH=OFF \
  -DVESKOR_WERROR="$werror"
cmake --build build-fuzz -j"$(nproc)" --target regexp_fuzz format_fuzz table_fuzz ini_fuzz \
  presets_fuzz key_fuzz carve_fuzz
status=0
for target in regexp format table ini presets key carve; do
  mkdir -p "build-fuzz/corpus/$target"
  if ! build-fuzz/fuzz/${target}_fuzz "build-fuzz/corpus/$target" "fuzz/corpus/$target" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
      > "build-fuzz/$target.log" 2>&1; then
    echo "fuzz: $target failed"; tail -40 "build-fuzz/$target.log"; status=1
  else
    echo "fuzz: $target: $(grep -o 'number_of_executed_units: [0-9]*' "build-fuzz/$target.log") in ${seconds} s"
  fi
done
exit $status

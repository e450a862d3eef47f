#!/usr/bin/env bash
# Builds the engine, the runner, their unit tests and the fuzz targets with clang,
# AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/, and runs the unit tests there
# (the window's tests run in the plain build). One build serves both: the fuzz targets link the
# same instrumented libraries (scripts/fuzz.sh runs them). -O1, which the sanitizers' reports
# need no more than, compiles in about half the time of -O3. With --build-only the tests are not
# run. With CI=true, warnings are errors (as in scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
werror=OFF
[ "${CI:-}" = true ] && werror=ON
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O1 -DNDEBUG" \
  -DCMAKE_CXX_COMPILER=clang++ -DVESKOR_SANITIZE=ON -DVESKOR_FUZZ=ON \
  -DVESKOR_BUILD_UI=OFF -DVESKOR_BUILD_BENCH=OFF -DVESKOR_WERROR="$werror"
cmake --build build-asan -j"$(nproc)"
[ "${1:-}" = --build-only ] && exit 0
cd build-asan
# VESKOR_TEST_SHRINK: the heaviest tests take a quarter of their inputs and rounds (at least what
# each needs to try what it says it tries), since every byte read costs more here; the plain
# build runs them whole. handle_sigbus=0: the scanner's own SIGBUS guard turns a file that
# shrinks under its mapping into a message; the sanitizer must leave that signal to it.
VESKOR_TEST_SHRINK=4 \
ASAN_OPTIONS=handle_sigbus=0:detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --output-on-failure -j"$(nproc)"
